#!/usr/bin/env bash
# Performance budget for reelmake: making a code tape of the largest input it
# accepts must cost no more than copying that input with cp.
#
# Usage: bench/run.sh [path/to/reelmake]
#   The default program is build/release/src/app/reelmake under the
#   repository (cmake --preset release && cmake --build --preset release).
#
# It makes a 65,533-byte random input in a temporary folder and compares
#   reelmake -c in.bin out.tap name 32768      with      cp in.bin copy.bin
# on three counts, each with its budget:
#   wall time      median over many runs (hyperfine)     ratio    <= 1.0
#   instructions   user-space instructions of the whole  ratio    <= 0.5
#                  process, dynamic loader included
#                  (valgrind --tool=callgrind, total Ir)
#   memory         peak resident set size                difference < 2 MiB
#                  (/usr/bin/time -f %M)
# Before measuring, it checks the tape that reelmake writes; afterwards, that
# no temporary .reelmake-* file was left behind.
#
# Tunable through the environment: RUNS (timed runs per command, default
# 300), WARMUP (untimed runs first, default 30), RSS_RUNS (runs whose largest
# peak RSS is kept, default 5), ENFORCE_BUDGET (default 1; 0 prints the
# verdict but does not fail on it, for noisy machines such as CI's).
#
# Exit status: 0 within budget (or ENFORCE_BUDGET=0), 1 over budget, 2 a tool
# or the program is missing or misbehaves, or anything else fails. Needs the
# Debian packages hyperfine, valgrind and time; it installs nothing itself.

set -euo pipefail

readonly INPUT_SIZE=65533
readonly WALL_RATIO_MAX=1.0
readonly IR_RATIO_MAX=0.5
readonly RSS_DIFF_MAX_KIB=2048

RUNS=${RUNS:-300}
WARMUP=${WARMUP:-30}
RSS_RUNS=${RSS_RUNS:-5}
ENFORCE_BUDGET=${ENFORCE_BUDGET:-1}

die() {
    printf 'bench: %s\n' "$*" >&2
    exit 2
}

# Only the verdict may end the script with status 1: any other failure is a
# broken run, not a missed budget. die has spoken already when the status is 2.
# shellcheck disable=SC2317 # called by the ERR trap
unexpected_failure() {
    local status=$1 line=$2
    ((status == 2)) || printf 'bench: a command failed (status %d) at line %d\n' "$status" "$line" >&2
    exit 2
}
trap 'unexpected_failure $? $LINENO' ERR

for count in "$RUNS" "$WARMUP" "$RSS_RUNS"; do
    [[ $count =~ ^[0-9]+$ ]] || die "RUNS, WARMUP and RSS_RUNS must be whole numbers"
done
((RUNS >= 2)) || die "RUNS must be at least 2"
((RSS_RUNS >= 1)) || die "RSS_RUNS must be at least 1"
[[ $ENFORCE_BUDGET == [01] ]] || die "ENFORCE_BUDGET must be 0 or 1"

if (($# > 1)); then
    printf 'usage: %s [path/to/reelmake]\n' "$0" >&2
    exit 2
fi

script_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname -- "$script_dir")
reelmake=${1:-$repo_dir/build/release/src/app/reelmake}

# --- what is needed --------------------------------------------------------

missing=()
command -v hyperfine >/dev/null 2>&1 || missing+=("hyperfine (Debian package hyperfine)")
command -v valgrind >/dev/null 2>&1 || missing+=("valgrind (Debian package valgrind)")
[[ -x /usr/bin/time ]] || missing+=("/usr/bin/time (Debian package time)")
command -v cp >/dev/null 2>&1 || missing+=("cp (Debian package coreutils)")
command -v awk >/dev/null 2>&1 || missing+=("awk (Debian package mawk or gawk)")
if ((${#missing[@]} > 0)); then
    printf 'bench: missing tools, install them first:\n' >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 2
fi

if [[ ! -f $reelmake || ! -x $reelmake ]]; then
    die "no executable program at '$reelmake'; build it with: cmake --preset release && cmake --build --preset release"
fi
# Absolute paths: the commands run inside the temporary folder.
reelmake=$(cd -- "$(dirname -- "$reelmake")" && pwd)/$(basename -- "$reelmake")
cp_bin=$(command -v cp)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/reelmake-bench.XXXXXX")
# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() { rm -rf -- "$tmp"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd -- "$tmp"

head -c "$INPUT_SIZE" /dev/urandom >in.bin
[[ $(stat -c %s in.bin) -eq $INPUT_SIZE ]] || die "could not make the $INPUT_SIZE-byte input"

reelmake_cmd=("$reelmake" -c in.bin out.tap name 32768)
cp_cmd=("$cp_bin" in.bin copy.bin)

# --- both commands must do their job before they are measured --------------

if ! "${reelmake_cmd[@]}" >reelmake.log; then
    cat reelmake.log >&2
    die "reelmake failed on the benchmark input"
fi
# A code tape is a 19-byte header block and a data block, each behind a
# 2-byte length: the input size plus 25 bytes.
[[ -f out.tap && $(stat -c %s out.tap) -eq $((INPUT_SIZE + 25)) ]] ||
    die "reelmake did not write a $((INPUT_SIZE + 25))-byte tape"
cmp -s --ignore-initial=24:0 --bytes="$INPUT_SIZE" out.tap in.bin ||
    die "the tape does not hold the input bytes where the data block belongs"
"${cp_cmd[@]}"
cmp -s in.bin copy.bin || die "cp did not copy the input"

# --- wall time --------------------------------------------------------------

quote_cmd() {
    local out="" word
    for word in "$@"; do
        out+="${out:+ }$(printf '%q' "$word")"
    done
    printf '%s' "$out"
}

echo "== wall time: hyperfine, $RUNS runs after $WARMUP warm-up runs"
hyperfine --shell=none --style basic --warmup "$WARMUP" --runs "$RUNS" \
    --export-csv wall.csv \
    --command-name reelmake "$(quote_cmd "${reelmake_cmd[@]}")" \
    --command-name cp "$(quote_cmd "${cp_cmd[@]}")" ||
    die "hyperfine failed"

# CSV columns: command,mean,stddev,median,user,system,min,max (seconds).
median_of() {
    awk -F, -v name="$1" 'NR > 1 && $1 == name { print $4; found = 1 }
        END { if (!found) exit 1 }' wall.csv
}
wall_reelmake=$(median_of reelmake) || die "no median for reelmake in hyperfine's results"
wall_cp=$(median_of cp) || die "no median for cp in hyperfine's results"

# --- instructions -----------------------------------------------------------

# Total instructions executed (Ir) over the whole process, from the first
# instruction of the dynamic loader (if any) to the exit. Children are
# followed, so a program run through a wrapper script is still measured; the
# totals of all the process images are added up.
instructions_of() {
    local name=$1
    shift
    mkdir -- "$tmp/callgrind.$name"
    valgrind --tool=callgrind --trace-children=yes \
        --callgrind-out-file="$tmp/callgrind.$name/%p.out" \
        --log-file="$tmp/callgrind.$name/%p.log" "$@" >/dev/null ||
        die "$name failed under valgrind"
    # Each file has a "totals:" line (older valgrind: "summary:").
    awk '$1 == "totals:" { totals[FILENAME] = $2 }
        $1 == "summary:" { summary[FILENAME] = $2 }
        END {
            for (f in summary) if (!(f in totals)) totals[f] = summary[f]
            for (f in totals) { sum += totals[f]; found = 1 }
            if (!found) exit 1
            printf "%.0f\n", sum
        }' "$tmp/callgrind.$name"/*.out ||
        die "no instruction total in callgrind's output for $name"
}

echo
echo "== instructions: valgrind --tool=callgrind"
ir_reelmake=$(instructions_of reelmake "${reelmake_cmd[@]}")
ir_cp=$(instructions_of cp "${cp_cmd[@]}")

# --- peak resident memory ---------------------------------------------------

# Largest peak RSS in KiB over RSS_RUNS runs.
peak_rss_of() {
    local name=$1 run rss peak=0
    shift
    for ((run = 0; run < RSS_RUNS; run++)); do
        /usr/bin/time -f %M -o "$tmp/rss.$name" "$@" >/dev/null ||
            die "$name failed under /usr/bin/time"
        rss=$(tail -n 1 "$tmp/rss.$name")
        [[ $rss =~ ^[0-9]+$ ]] || die "unexpected /usr/bin/time output for $name: $rss"
        ((rss > peak)) && peak=$rss
    done
    printf '%s\n' "$peak"
}

echo "== peak resident memory: /usr/bin/time -f %M, largest of $RSS_RUNS runs"
rss_reelmake=$(peak_rss_of reelmake "${reelmake_cmd[@]}")
rss_cp=$(peak_rss_of cp "${cp_cmd[@]}")

# Every run replaces out.tap through a temporary file in this folder; none
# may be left behind.
stray=(.reelmake-*)
[[ ! -e ${stray[0]} ]] || die "reelmake left temporary files behind: ${stray[*]}"

# --- verdict ----------------------------------------------------------------

verdict=0
awk -v wr="$wall_reelmake" -v wc="$wall_cp" \
    -v ir="$ir_reelmake" -v ic="$ir_cp" \
    -v rr="$rss_reelmake" -v rc="$rss_cp" \
    -v wmax="$WALL_RATIO_MAX" -v imax="$IR_RATIO_MAX" -v dmax="$RSS_DIFF_MAX_KIB" '
function verdict(ok) { if (!ok) failed = 1; return ok ? "pass" : "FAIL" }
BEGIN {
    if (wc <= 0 || ic <= 0) { print "bench: cp measured as zero"; exit 2 }
    wall_ratio = wr / wc
    ir_ratio = ir / ic
    rss_diff = rr - rc
    printf "\n%-22s %14s %14s %14s %12s  %s\n", "measure", "reelmake", "cp", "ratio/diff", "budget", "result"
    printf "%-22s %14.3f %14.3f %14.3f %12s  %s\n", "wall median (ms)", wr * 1000, wc * 1000, wall_ratio, "<= " wmax, verdict(wall_ratio <= wmax)
    printf "%-22s %14.0f %14.0f %14.3f %12s  %s\n", "instructions (Ir)", ir, ic, ir_ratio, "<= " imax, verdict(ir_ratio <= imax)
    printf "%-22s %14d %14d %+14d %12s  %s\n", "peak RSS (KiB)", rr, rc, rss_diff, "< " dmax, verdict(rss_diff < dmax)
    print ""
    print (failed ? "over budget" : "within budget")
    exit failed ? 1 : 0
}' || verdict=$?
((verdict <= 1)) || exit 2
if ((verdict == 1 && ENFORCE_BUDGET == 0)); then
    echo "(not enforced: ENFORCE_BUDGET=0)"
    exit 0
fi
exit "$verdict"
