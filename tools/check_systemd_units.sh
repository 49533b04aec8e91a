#!/usr/bin/env bash
# Checks the systemd units the Debian package ships (packaging/systemd/) and
# the way README.md shows them under "Scheduling": README, the manual page
# (doc/agesweep.1.in) and the shipped files have the same text for the units,
# the example configuration and the drop-in; `systemd-analyze verify`
# accepts the units, an instance of them and the drop-in without a word
# (keys and values, the timer's service, the programs ExecStart= and
# ExecStartPre= name and the manual page that Documentation= names); and
# `systemd-analyze security --offline=yes --threshold=25` rates the service
# 2.5 or better. The program and the manual page are the ones of BUILD_DIR
# (the package need not be installed); the units are written to a fresh
# mktemp folder, removed at the end. Without systemd-analyze it prints a note
# and checks only that the texts agree.
#   bash tools/check_systemd_units.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
fail() { echo "check_systemd_units.sh: FAIL: $*" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-units.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/readme" "$scratch/manual" "$scratch/units"

# Each file as README and manual name it, and its source in the tree when it
# is shipped.
shown=(
  /usr/lib/systemd/system/agesweep@.service=packaging/systemd/agesweep@.service
  /usr/lib/systemd/system/agesweep@.timer=packaging/systemd/agesweep@.timer
  /etc/agesweep/myapp.conf=packaging/examples/myapp.conf
  /etc/systemd/system/agesweep@myapp.service.d/override.conf=
)
for entry in "${shown[@]}"; do
  name=${entry%%=*} source=${entry#*=} text=${entry%%=*}
  text=${text##*/}
  # README: the four-space code lines (and the blank lines among them) that
  # come first after the line that names the file.
  awk -v name="\`$name\`" '
    found && /^    / {
      if (printed) while (blank) { print ""; blank-- }
      blank = 0; printed = 1; print substr($0, 5); next
    }
    found && /^$/ { blank++; next }
    found && printed { exit }
    !found && index($0, name) { found = 1 }
  ' README.md > "$scratch/readme/$text"
  # The manual: the example between .EX and .EE after ".I PATH:".
  awk -v name="$(sed 's/-/\\\\-/g' <<<"$name"):" '
    found && /^\.EE/ { exit }
    found == 2 { print }
    found == 1 && /^\.EX/ { found = 2 }
    $0 == ".I " name { found = 1 }
  ' doc/agesweep.1.in |
    sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g' > "$scratch/manual/$text"
  [ -s "$scratch/readme/$text" ] || fail "no text for $name in README.md"
  diff -u --label "README.md: $name" --label "doc/agesweep.1.in: $name" \
    "$scratch/readme/$text" "$scratch/manual/$text" >&2 ||
    fail "README.md and the manual page show $name differently"
  if [ -n "$source" ]; then
    diff -u --label "$source" --label "README.md: $name" \
      "$source" "$scratch/readme/$text" >&2 ||
      fail "README.md does not show $name as $source ships it"
  fi
done
echo "ok: README.md, the manual page and packaging/ agree on" "${shown[@]%%=*}"

if ! command -v systemd-analyze >/dev/null; then
  echo "note: systemd-analyze not installed (Debian package systemd): the units are not verified"
  exit 0
fi
program=$(cd "$build" 2>/dev/null && pwd -P)/agesweep
[ -x "$program" ] && [ -f "$build/agesweep.1" ] ||
  fail "no program and manual page in $build: build them first (make build)"
# The program as the package installs it is replaced by the built one; the
# drop-in joins an instance of the template.
mkdir -p "$scratch/man/man1" "$scratch/units/agesweep@myapp.service.d"
cp "$build/agesweep.1" "$scratch/man/man1/"
cp "$scratch/readme/override.conf" "$scratch/units/agesweep@myapp.service.d/"
cp packaging/systemd/agesweep@.timer "$scratch/units/"
service=$scratch/units/agesweep@.service
sed "s#^\(ExecStart=[-@:+!]*\)/usr/bin/agesweep #\1$program #" \
  packaging/systemd/agesweep@.service > "$service"
grep -q "^ExecStart=[-@:+!]*$program " "$service" ||
  fail "agesweep@.service: ExecStart= does not start /usr/bin/agesweep"
files=("$service" "$scratch/units/agesweep@.timer"
  "$scratch/units/agesweep@myapp.service" "$scratch/units/agesweep@myapp.timer")
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
echo "ok: systemd-analyze verify accepts the units, agesweep@myapp and its drop-in"

# The rating is in tenths: 25 is 2.5, the most the service may be exposed.
rc=0
report=$(systemd-analyze security --offline=yes --threshold=25 "$service" 2>&1) || rc=$?
rating=$(grep -o 'Overall exposure level for [^:]*: [0-9.]* [A-Z]*' <<<"$report" | sed 's/.*: //')
if [ "$rc" -ne 0 ] || [ -z "$rating" ]; then
  grep '^✗' <<<"$report" | sed 's/^/  /' >&2 || true
  fail "systemd-analyze security (exit status $rc) rates agesweep@.service ${rating:-unknown}, above 2.5"
fi
echo "ok: systemd-analyze security rates agesweep@.service $rating"
