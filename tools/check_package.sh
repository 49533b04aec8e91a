#!/usr/bin/env bash
# Builds the Debian package and checks it as a user would meet it: the Debian
# changelog at the version CMake builds, its files, its fields, the scripts
# that make the log, the extracted program sweeping a temporary tree with the
# log placed by AGESWEEP_LOG and, without it, taking /var/log/agesweep.log
# for its log, the logrotate file rotating a log between two runs, the bash
# completion, the systemd units (tools/check_systemd_units.sh), the manual
# page rendering without warnings, and lintian (when installed) finding no
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
shipped=(
  usr/lib/systemd/system/agesweep@.service=packaging/systemd/agesweep@.service
  usr/lib/systemd/system/agesweep@.timer=packaging/systemd/agesweep@.timer
  etc/logrotate.d/agesweep=packaging/logrotate/agesweep
  usr/share/bash-completion/completions/agesweep=packaging/bash-completion/agesweep
  usr/share/doc/agesweep/README.md=README.md
  usr/share/doc/agesweep/examples/myapp.conf=packaging/examples/myapp.conf
  usr/share/doc/agesweep/examples/agesweep@.service=packaging/systemd/agesweep@.service
  usr/share/doc/agesweep/examples/agesweep@.timer=packaging/systemd/agesweep@.timer
)
for entry in "${shipped[@]}"; do
  cmp -s "$root/${entry%%=*}" "${entry#*=}" || fail "${entry%%=*} is not ${entry#*=}"
done
[ -d "$root/etc/agesweep" ] || fail "no etc/agesweep folder for the configurations"
unexpected=$(cd "$root" && find . -type f | sort | grep -vxF \
  -e ./usr/bin/agesweep -e ./usr/share/man/man1/agesweep.1.gz \
  -e ./usr/share/doc/agesweep/copyright -e ./usr/share/doc/agesweep/changelog.gz \
  $(printf ' -e ./%s' "${shipped[@]%%=*}") || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"
[ -z "$(dpkg-deb -f "$deb" Homepage)" ] || fail "a Homepage field: $(dpkg-deb -f "$deb" Homepage)"
pass "files"

# The log: the units may write only an existing /var/log/agesweep.log, so
# the package makes it, with the owner and mode logrotate gives the next one.
# Installing the package here would change this machine; the scripts are
# read instead.
dpkg-deb -e "$deb" "$scratch/control"
[ "$(cat "$scratch/control/conffiles")" = /etc/logrotate.d/agesweep ] ||
  fail "conffiles: $(cat "$scratch/control/conffiles")"
read -r _ mode owner group < <(grep -o 'create [0-7]* [a-z]* [a-z]*' "$root/etc/logrotate.d/agesweep")
grep -qF "install -m $mode -o $owner -g $group /dev/null /var/log/agesweep.log" \
  "$scratch/control/postinst" ||
  fail "postinst does not make /var/log/agesweep.log as logrotate does ($mode $owner:$group)"
[ -x "$scratch/control/postinst" ] && [ -x "$scratch/control/postrm" ] &&
  sh -n "$scratch/control/postinst" && sh -n "$scratch/control/postrm" ||
  fail "maintainer scripts not executable shell scripts"
pass "conffiles and postinst ($mode $owner:$group)"

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

# logrotate moves the log aside between two runs: each block stays whole,
# the first in the rotated file, the second in the file made in its place.
# The shipped file, pointed at a log of its own (and, but as root, at this
# user for the new file's owner).
if command -v logrotate >/dev/null; then
  before=$failures
  rot=$scratch/rotate
  mkdir -p "$rot/data"
  sed -e "s#^/var/log/agesweep.log #$rot/agesweep.log #" "$root/etc/logrotate.d/agesweep" > "$rot/conf"
  [ "$(id -u)" -eq 0 ] ||
    sed -i "s#create \([0-7]*\) .*#create \1 $(id -un) $(id -gn)#" "$rot/conf"
  grep -q "^$rot/agesweep.log {" "$rot/conf" || fail "the logrotate file does not name /var/log/agesweep.log"
  logrotate -d -s "$rot/state" "$rot/conf" >"$rot/debug" 2>&1 ||
    fail "logrotate -d refuses the file: $(cat "$rot/debug")"
  sweep() {
    echo "$1" > "$rot/data/$1.log"
    touch -d '40 days ago' "$rot/data/$1.log"
    AGESWEEP_LOG=$rot/agesweep.log "$program" /Q /L /F "$rot/data" /W '*.log' /M d /T 30 \
      </dev/null >/dev/null 2>&1 || fail "logged run $1: exit status $?"
  }
  sweep first
  logrotate -f -s "$rot/state" "$rot/conf" 2>"$rot/err" || fail "logrotate -f: $(cat "$rot/err")"
  [ -f "$rot/agesweep.log" ] && [ ! -s "$rot/agesweep.log" ] ||
    fail "no empty log made in place of the rotated one"
  [ "$(id -u)" -ne 0 ] || [ "$(stat -c '%a %U %G' "$rot/agesweep.log")" = "640 root adm" ] ||
    fail "the new log is $(stat -c '%a %U %G' "$rot/agesweep.log"), not 640 root adm"
  sweep second
  for pair in agesweep.log.1=first agesweep.log=second; do
    file=$rot/${pair%%=*} other=first
    [ "${pair#*=}" = second ] || other=second
    [ "$(grep -c '^Start: ' "$file")" -eq 1 ] && grep -q "^Delete: .*/${pair#*=}.log" "$file" &&
      grep -q '^Done: ' "$file" && ! grep -q "/$other.log" "$file" ||
      fail "${pair%%=*} does not hold the ${pair#*=} run's block alone: $(tr -d '\r' < "$file")"
  done
  [ "$failures" -ne "$before" ] || pass "logrotate -d, and a forced rotation between two runs"
else
  echo "note: logrotate not installed (Debian package logrotate): the logrotate file is not tried"
fi

# The completion, as bash loads it: interval codes after /M, switches in
# both cases, a quoted pattern after /W.
completion=$root/usr/share/bash-completion/completions/agesweep
got=$(bash --norc -c '
  source "$1"
  complete -p agesweep | grep -q -- "-F _agesweep" || exit 3
  try() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    _agesweep; echo "${COMPREPLY[*]}"; }
  try agesweep /M ""; try agesweep /m ""; try agesweep /c; try agesweep /W ""
' bash "$completion" 2>&1) || fail "the completion does not load (status $?): $got"
expected="yyyy q m y d w ww h n s
yyyy q m y d w ww h n s
/ct
'*'"
[ "$got" = "$expected" ] || fail "the completion offers, after /M, /m, /c and /W:
$got
and not:
$expected"
[ "$got" != "$expected" ] || pass "bash completion"

# The shipped units, with the built program and manual page in this folder.
bash tools/check_systemd_units.sh "$build" || fail "the units (tools/check_systemd_units.sh)"

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
