#!/usr/bin/env bash
# Builds the Windows zip (tools/make_windows_zip.sh) and checks it: exactly
# the expected entries, a 64-bit windowed agesweep.exe identical to the one
# just built and needing no compiler DLL, text files with CR LF line ends,
# and, where Wine is installed, the unpacked program sweeping a temporary
# tree with its log placed by AGESWEEP_LOG (tools/smoke.sh). Wine's own
# start-up messages go to BUILD_DIR/wine-zip-check.log. CMAKE_ARGs go to
# tools/make_windows_zip.sh.
#   bash tools/check_windows_zip.sh [BUILD_DIR [CMAKE_ARG...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win-release}
shift $(($# > 0))
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
failures=0
fail() { echo "check_windows_zip.sh: FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

zip=$(bash tools/make_windows_zip.sh "$build" "$@" | tail -n 1)
echo "zip: $zip"
# Wine, as the cross build knows it (AGESWEEP_WINE, set by the toolchain file).
wine=$(sed -n 's/^AGESWEEP_WINE:[A-Z]*=//p' "$build/CMakeCache.txt")
folder=$(basename "$zip" .zip)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-zip.XXXXXX")
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$(dirname "$wine")/wineserver" -k >/dev/null 2>&1 || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Entries.
entries=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
expected=$(printf '%s\n' "$folder/LICENSE.txt" "$folder/README.md" "$folder/WINDOWS.txt" "$folder/agesweep.exe")
[ "$entries" = "$expected" ] || fail "entries are:"$'\n'"$entries"
python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$zip" ||
  fail "a damaged entry"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$scratch"
unpacked=$scratch/$folder
pass "entries"

# The program.
exe=$unpacked/agesweep.exe
cmp -s "$exe" "$build/agesweep.exe" || fail "agesweep.exe differs from the one built"
description=$(file -b "$exe")
grep -q 'PE32+ executable (GUI) x86-64' <<<"$description" || fail "agesweep.exe is: $description"
if command -v "$objdump" >/dev/null; then
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -fu)
  if grep -Eiq 'libstdc|libgcc|libwinpthread|mingw' <<<"$dlls"; then
    fail "agesweep.exe needs a compiler DLL: $(tr '\n' ' ' <<<"$dlls")"
  fi
  pass "agesweep.exe needs only $(tr '\n' ' ' <<<"$dlls")"
fi

# Text files: CR LF throughout, and the notes on scheduling.
for text in README.md LICENSE.txt WINDOWS.txt; do
  if grep -q $'[^\r]$\|^$' "$unpacked/$text"; then
    fail "$text has a line without CR LF"
  fi
done
grep -q 'schtasks /create' "$unpacked/WINDOWS.txt" || fail "WINDOWS.txt has no Task Scheduler example"
grep -q 'AGESWEEP_LOG' "$unpacked/WINDOWS.txt" || fail "WINDOWS.txt does not name AGESWEEP_LOG"
grep -q 'MIT License' "$unpacked/LICENSE.txt" || fail "LICENSE.txt is not the MIT licence"
pass "text files"

# The unpacked program under Wine, in a prefix of its own.
if [ -x "$wine" ]; then
  noise=$build/wine-zip-check.log
  export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  "$wine" wineboot -i >"$noise" 2>&1 </dev/null || true
  bash tools/smoke.sh "$exe" "$wine" ||
    fail "the smoke run under Wine (tools/smoke.sh; Wine's start-up messages: $noise)"
  [ ! -e "$unpacked/agesweep.log" ] || fail "a log was written beside the program despite AGESWEEP_LOG"
else
  echo "note: Wine ($wine) not installed: the program was not run"
fi

if [ "$failures" -ne 0 ]; then
  echo "check_windows_zip.sh: $failures failed" >&2
  exit 1
fi
echo "check_windows_zip.sh: all checks passed"
