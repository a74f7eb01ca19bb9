#!/bin/sh
# Writes the Debian changelog (debian/changelog format, for the package's
# changelog.Debian.gz) made from the project's CHANGELOG.md, to standard
# output. It has an entry for each Debian package that was made, given
# newest first as its Debian version (1.2.0-1, or 1.1.0 for one without a
# Debian revision); other releases in CHANGELOG.md have none. An entry takes
# the text of its release heading "## X.Y.Z - YYYY-MM-DD": its "### Heading"
# lines, text and bullet lists, wrapped to fit 80 columns.
#
# A heading gives the release day alone, so every entry is stamped at one
# nominal time of day, 12:00 UTC, and the newest entry says so.
#
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE "NAME <EMAIL>" DEBIAN-VERSION...
set -eu

if [ $# -lt 4 ]; then
  echo "usage: $0 CHANGELOG.md PACKAGE 'NAME <EMAIL>' DEBIAN-VERSION..." >&2
  exit 2
fi
changelog=$1
package=$2
maintainer=$3
shift 3

exec awk -v package="$package" -v maintainer="$maintainer" -v packages="$*" '
function fail(message) {
  printf "%s:%d: %s\n", FILENAME, FNR, message > "/dev/stderr"
  failed = 1
  exit 1
}

# "Tue, 08 Dec 2026 12:00:00 +0000" for 2026-12-08, as Debian dates entries.
function rfc2822(date,    y, m, d, t, weekday) {
  y = substr(date, 1, 4) + 0
  m = substr(date, 6, 2) + 0
  d = substr(date, 9, 2) + 0
  if (m < 1 || m > 12 || d < 1 || d > 31) fail("not a date: " date)
  # Sakamoto: day of the week, 0 for Sunday.
  split("0 3 2 5 0 3 5 1 4 6 2 4", t, " ")
  if (m < 3) y -= 1
  weekday = (y + int(y / 4) - int(y / 100) + int(y / 400) + t[m] + d) % 7
  return substr("SunMonTueWedThuFriSat", weekday * 3 + 1, 3) ", " \
         substr(date, 9, 2) " " substr("JanFebMarAprMayJunJulAugSepOctNovDec", m * 3 - 2, 3) \
         " " substr(date, 1, 4) " 12:00:00 +0000"
}

# Prints text in lines of at most 79 columns: the first after prefix, the
# others after continuation. A `code span` is never broken and keeps its
# blanks; a word longer than a line has a line to itself.
function wrap(prefix, continuation, text,    words, count, i, line, guarded, code, c) {
  guarded = ""
  code = 0
  for (i = 1; i <= length(text); i++) {
    c = substr(text, i, 1)
    if (c == "`") code = !code
    guarded = guarded ((code && c == " ") ? "\001" : c)
  }
  count = split(guarded, words, " ")
  line = prefix
  for (i = 1; i <= count; i++) {
    if (line != prefix && line != continuation && length(line) + 1 + length(words[i]) > 79) {
      emit(line)
      line = continuation
    }
    line = (line == prefix || line == continuation) ? line words[i] : line " " words[i]
  }
  if (line != prefix && line != continuation) emit(line)
}
function emit(line) {
  gsub(/\001/, " ", line)
  print line
}

# The item being gathered: a paragraph, a bullet or a nested bullet.
function flush() {
  if (kind == "") return
  if (heading != "") {
    if (printed) print ""
    print "  " heading ":"
    heading = ""
  } else if (kind == "text" && printed) {
    print ""
  }
  if (kind == "text") wrap("  ", "  ", text)
  else if (kind == "item") wrap("  * ", "    ", text)
  else wrap("    - ", "      ", text)
  printed = 1
  kind = ""
  text = ""
}

function close_entry() {
  flush()
  if (version == "") return
  if (!printed) print "  * Upstream release " version "."
  if (entries == 1) {
    print ""
    wrap("  ", "  ", "Each entry is dated on the day of its release; the time of day, " \
                     "12:00 UTC, is nominal.")
  }
  print ""
  print " -- " maintainer "  " date
  version = ""
}

BEGIN {
  wanted = split(packages, listed, " ")
  for (i = 1; i <= wanted; i++) {
    upstream = listed[i]
    sub(/-[^-]*$/, "", upstream)
    debian[upstream] = listed[i]
  }
}
/^## / {
  close_entry()
  if ($0 !~ /^## [0-9]+\.[0-9]+\.[0-9]+ - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/)
    fail("a release heading must read \"## X.Y.Z - YYYY-MM-DD\": " $0)
  if (!($2 in debian)) {
    # Between the newest package and the oldest, every release had one.
    if (entries > 0 && entries < wanted) fail("release " $2 " has no Debian version: give one")
    next
  }
  if (debian[$2] != listed[entries + 1])
    fail("Debian version " listed[entries + 1] " is missing or out of order")
  if (entries++) print ""
  version = debian[$2]
  date = rfc2822($4)
  print package " (" version ") unstable; urgency=medium"
  print ""
  printed = 0
  heading = ""
  next
}
version == "" { next }
/^### / {
  flush()
  heading = substr($0, 5)
  next
}
/^[ \t]*$/ { flush(); next }
/^- / { flush(); kind = "item"; text = substr($0, 3); next }
/^  - / { flush(); kind = "subitem"; text = substr($0, 5); next }
{
  line = $0
  sub(/^[ \t]+/, "", line)
  if (kind == "") kind = "text"
  text = text == "" ? line : text " " line
}
END {
  if (failed) exit 1
  close_entry()
  if (entries < wanted) fail("no release heading for Debian version " listed[entries + 1])
}
' "$changelog"
