#!/usr/bin/env bash
# Turns the bundled example into tapes in the current directory:
# loader.tap (BASIC, auto-start at line 10), code.tap (code at 32768) and
# demo.tap, the two joined into one tape that loads and runs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
reelmake="${1:-reelmake}"

"$reelmake" -b "$here/loader.bin" loader.tap loader 10
"$reelmake" -c "$here/code.bin" code.tap code 32768
cat loader.tap code.tap > demo.tap
echo "wrote loader.tap, code.tap and demo.tap"
