#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: the Debian
# changelog at the version CMake builds, its files, its fields, the extracted
# program sweeping a temporary tree with the log placed by AGESWEEP_LOG and,
# without it, taking /var/log/agesweep.log for its log, the manual page
# rendering without warnings, and lintian (when installed) finding no
# errors. CMAKE_ARGs go to tools/build_deb.sh.
#   bash tools/check_package.sh [BUILD_DIR [CMAKE_ARG...]]
# Everything runs under fresh mktemp folders, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
shift $(($# > 0))
failures=0
fail() { echo "check_package.sh: FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

deb=$(bash tools/build_deb.sh "$build" "$@" | tail -n 1)
echo "package: $deb"

# The version is written once, as the project() version in CMakeLists.txt;
# the Debian changelog repeats it because Debian reads it there, and its
# newest entry must name the version being built.
cmake_version=$(sed -n 's/^#define AGESWEEP_VERSION_TEXT "\(.*\)"$/\1/p' \
  "$build/generated/agesweep_version.h")
debian_version=$(dpkg-parsechangelog -l packaging/debian/changelog -SVersion)
if [ "$debian_version" = "$cmake_version" ]; then
  pass "packaging/debian/changelog is at the CMake version $cmake_version"
else
  fail "packaging/debian/changelog is at version '$debian_version', CMakeLists.txt's project() at '$cmake_version': add a changelog entry for $cmake_version"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"

# Fields.
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-deb -f "$deb" Package)" = agesweep ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no libc6 in Depends (shlibdeps)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
pass "fields (version $version)"

# Files.
program=$root/usr/bin/agesweep
page=$root/usr/share/man/man1/agesweep.1.gz
doc=$root/usr/share/doc/agesweep
[ -x "$program" ] || fail "no usr/bin/agesweep"
file -b "$program" | grep -q 'ELF.*, stripped' || fail "program not stripped: $(file -b "$program")"
for gz in "$page" "$doc/changelog.gz"; do
  [ -f "$gz" ] || { fail "missing ${gz#"$root"/}"; continue; }
  gzip -t "$gz" || fail "${gz#"$root"/} is not gzip"
  # gzip -n: no file name (flag 0x08) and no time stamp in the header, so
  # that two builds give the same bytes.
  read -r -a header < <(od -An -tu1 -N8 "$gz")
  [ $((header[3] & 8)) -eq 0 ] && [ "${header[4]}${header[5]}${header[6]}${header[7]}" = 0000 ] ||
    fail "${gz#"$root"/} was not compressed with gzip -n"
done
head -n 1 "$doc/copyright" 2>/dev/null |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright file is not in the machine-readable format"
changelog_version=$(zcat "$doc/changelog.gz" | dpkg-parsechangelog -l- -SVersion)
[ "$changelog_version" = "$version" ] ||
  fail "changelog version $changelog_version, package version $version"
unexpected=$(cd "$root" && find . -type f | sort | grep -vxF \
  -e ./usr/bin/agesweep -e ./usr/share/man/man1/agesweep.1.gz \
  -e ./usr/share/doc/agesweep/copyright -e ./usr/share/doc/agesweep/changelog.gz || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"
pass "files"

# The extracted program.
upstream=${version%%-*}
got=$("$program" --version </dev/null) || fail "--version exit status $?"
[ "$got" = "agesweep $upstream" ] || fail "--version printed '$got', package is $version"

# A preview on a tree of its own: every question answered No by the end of
# input, and no log written without /L.
tree=$scratch/tree
mkdir -p "$tree/data"
echo old > "$tree/data/old.log"
touch -d '40 days ago' "$tree/data/old.log"
echo young > "$tree/data/young.log"
echo other > "$tree/data/other.txt"
touch -d '40 days ago' "$tree/data/other.txt"
log=$tree/agesweep.log
rc=0
AGESWEEP_LOG=$log "$program" /F "$tree/data" /W '*.log' /M d /T 30 </dev/null \
  >/dev/null 2>"$scratch/preview.err" || rc=$?
[ "$rc" -eq 0 ] || fail "preview exit status $rc"
[ "$(grep -c 'Confirm Delete:' "$scratch/preview.err")" -eq 1 ] &&
  grep -q "delete $tree/data/old.log \[Y/n\]" "$scratch/preview.err" ||
  fail "preview did not ask about exactly old.log: $(cat "$scratch/preview.err")"
[ -f "$tree/data/old.log" ] || fail "the preview deleted old.log"
[ ! -e "$log" ] || fail "the preview wrote a log without /L"

# A logged quiet run, its log placed by AGESWEEP_LOG.
bash tools/smoke.sh "$program" || fail "the smoke run (tools/smoke.sh)"
[ ! -e "$root/usr/bin/agesweep.log" ] || fail "a log was written beside the program despite AGESWEEP_LOG"
pass "program run"

# Without AGESWEEP_LOG the packaged program logs to /var/log/agesweep.log.
# That is tried by a user who cannot write there ("nobody" when this runs as
# root), so that no real log is ever written to: the run must be refused
# before the sweep, naming the file and AGESWEEP_LOG, and delete nothing.
default_log=/var/log/agesweep.log
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
  chmod 0755 "$scratch"
  chmod 0777 "$tree/data"  # a sweep that went ahead would show
fi
if "${as_user[@]}" sh -c '[ -w "$1" ] || { [ ! -e "$1" ] && [ -w "${1%/*}" ]; }' \
  sh "$default_log"; then
  echo "note: $default_log is writable by $("${as_user[@]}" id -un): the default log place is not checked"
else
  before=$failures
  rc=0
  env -u AGESWEEP_LOG "${as_user[@]}" "$program" /Q /L /F "$tree/data" /W '*.log' /M d /T 30 \
    </dev/null >/dev/null 2>"$scratch/default-log.err" || rc=$?
  [ "$rc" -eq 2 ] || fail "a run without AGESWEEP_LOG that cannot write $default_log: exit status $rc, not 2"
  grep -qF "Error: Cannot write the log file $default_log: " "$scratch/default-log.err" &&
    grep -qF 'Set AGESWEEP_LOG to a file you can write.' "$scratch/default-log.err" ||
    fail "the refusal does not name $default_log and AGESWEEP_LOG: $(cat "$scratch/default-log.err")"
  [ -f "$tree/data/old.log" ] || fail "a run that could not write its log deleted old.log"
  [ "$failures" -ne "$before" ] || pass "default log place $default_log"
fi

# The manual page, as man shows it.
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man warnings: $warnings"
MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'AGESWEEP_LOG' || fail "man page did not render"
pass "manual page"

if command -v lintian >/dev/null; then
  # Errors fail the check; warnings and notes are shown.
  rc=0
  report=$(lintian --fail-on error --display-info --pedantic "$deb" 2>&1) || rc=$?
  echo "lintian (exit status $rc):"
  [ -z "$report" ] || sed 's/^/  /' <<<"$report"
  [ "$rc" -eq 0 ] || fail "lintian reports errors"
else
  echo "note: lintian not installed: not run"
fi

if [ "$failures" -ne 0 ]; then
  echo "check_package.sh: $failures failed" >&2
  exit 1
fi
echo "check_package.sh: all checks passed"
