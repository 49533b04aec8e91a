#!/usr/bin/env bash
# Checks the systemd units that README.md shows under "Scheduling": the
# manual page (doc/agesweep.1.in) shows the same units, and
# `systemd-analyze verify` accepts them without a word: keys and values, the
# timer's service, the program ExecStart= names and the manual page that
# Documentation= names. The program and the manual page are the ones of
# BUILD_DIR (the package need not be installed); the units are written to a
# fresh mktemp folder, removed at the end. Without systemd-analyze it prints
# a note and checks only that README and manual agree.
#   bash tools/check_systemd_units.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
fail() { echo "check_systemd_units.sh: FAIL: $*" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-units.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/readme" "$scratch/manual" "$scratch/units"

# README: the four-space code lines (and the blank lines among them) after
# the line that names the unit's file.
units=$(grep -o '`/etc/systemd/system/[^`]*\.\(service\|timer\)`' README.md |
  tr -d '`' | sed 's#.*/##' | sort -u)
[ -n "$units" ] || fail "README.md names no unit file under /etc/systemd/system"
for unit in $units; do
  awk -v name="/etc/systemd/system/$unit\`" '
    found && /^    / {
      if (printed) while (blank) { print ""; blank-- }
      blank = 0; printed = 1; print substr($0, 5); next
    }
    found && /^$/ { blank++; next }
    found { exit }
    index($0, name) { found = 1 }
  ' README.md > "$scratch/readme/$unit"
  # The manual: the example between .EX and .EE after ".I .../UNIT:".
  awk -v name="/etc/systemd/system/$(sed 's/-/\\\\-/g' <<<"$unit"):" '
    found && /^\.EE/ { exit }
    found == 2 { print }
    found == 1 && /^\.EX/ { found = 2 }
    $0 == ".I " name { found = 1 }
  ' doc/agesweep.1.in |
    sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g' > "$scratch/manual/$unit"
  [ -s "$scratch/readme/$unit" ] || fail "no text for $unit in README.md"
  diff -u --label "README.md: $unit" --label "doc/agesweep.1.in: $unit" \
    "$scratch/readme/$unit" "$scratch/manual/$unit" >&2 ||
    fail "README.md and the manual page show $unit differently"
done
echo "ok: README.md and the manual page show the same units:" $units

if ! command -v systemd-analyze >/dev/null; then
  echo "note: systemd-analyze not installed (Debian package systemd): the units are not verified"
  exit 0
fi
program=$(cd "$build" 2>/dev/null && pwd -P)/agesweep
[ -x "$program" ] && [ -f "$build/agesweep.1" ] ||
  fail "no program and manual page in $build: build them first (make build)"
# The program as the package installs it is replaced by the built one.
mkdir -p "$scratch/man/man1"
cp "$build/agesweep.1" "$scratch/man/man1/"
files=()
for unit in $units; do
  files+=("$scratch/units/$unit")
  sed "s#^\(ExecStart=[-@:+!]*\)/usr/bin/agesweep #\1$program #" \
    "$scratch/readme/$unit" > "$scratch/units/$unit"
  if grep -q '^ExecStart=' "$scratch/units/$unit" &&
    ! grep -q "^ExecStart=[-@:+!]*$program " "$scratch/units/$unit"; then
    fail "$unit: ExecStart= does not start /usr/bin/agesweep"
  fi
done
# verify exits 0 on unknown keys and values it cannot parse, but says so.
man_check=()
command -v man >/dev/null || man_check=(--man=no)
rc=0
report=$(MANPATH=$scratch/man \
  systemd-analyze verify "${man_check[@]}" "${files[@]}" 2>&1) || rc=$?
if [ "$rc" -ne 0 ] || [ -n "$report" ]; then
  sed 's/^/  /' <<<"$report" >&2
  fail "systemd-analyze verify (exit status $rc) finds fault with the units"
fi
[ ${#man_check[@]} -eq 0 ] || echo "note: man not installed: Documentation= not checked"
echo "ok: systemd-analyze verify accepts" $units
