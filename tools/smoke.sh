#!/usr/bin/env bash
# Smoke run of a built agesweep, as the package checks and the demonstration
# make it: on a fresh temporary tree with an old and a young .log file and an
# old file the pattern does not match, a logged quiet run must exit with
# status 0, delete the old .log file only, and write its log block (placed by
# AGESWEEP_LOG inside the tree) naming the deletion and the program's folder.
#   bash tools/smoke.sh PROGRAM [WRAPPER...]
# WRAPPER is a command to run PROGRAM under, such as Wine's loader for
# agesweep.exe; a program named *.exe gets its paths in Windows form, on
# Wine's drive Z: (the Unix root). Prints one "ok" line, or each failure with
# the program's output, and then exits 1. Touches nothing but the mktemp
# folder it makes, and removes that.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [WRAPPER...]" >&2
  exit 2
fi
program=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-smoke.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# A path as the program names it.
native() {
  case $program in
    *.exe) printf 'Z:%s' "${1//\//\\}" ;;
    *) printf '%s' "$1" ;;
  esac
}

data=$scratch/data
mkdir "$data"
echo old > "$data/old.log"
touch -d '40 days ago' "$data/old.log"
echo young > "$data/young.log"
echo old > "$data/old.txt"
touch -d '40 days ago' "$data/old.txt"
log=$scratch/agesweep.log

failures=()
rc=0
AGESWEEP_LOG=$(native "$log") "$@" "$program" /Q /L /F "$(native "$data")" \
  /W '*.log' /M d /T 30 </dev/null >"$scratch/output" 2>&1 || rc=$?
[ "$rc" -eq 0 ] || failures+=("exit status $rc")
[ ! -e "$data/old.log" ] || failures+=("old.log, 40 days old, is still there")
[ -f "$data/young.log" ] || failures+=("young.log, new, was deleted")
[ -f "$data/old.txt" ] || failures+=("old.txt, not matching *.log, was deleted")
if [ -f "$log" ]; then
  # Log lines end in CR LF on every system.
  grep -qxF "Delete: $(native "$data/old.log")"$'\r' "$log" ||
    failures+=("no Delete line for old.log in the log")
  grep -q '^Done: ' "$log" || failures+=("no Done line in the log")
  folder=$(cd "$(dirname "$program")" && pwd -P)
  grep -qxF "App Path: $(native "$folder")"$'\r' "$log" ||
    failures+=("App Path is not the program's folder, $(native "$folder")")
else
  failures+=("no log at AGESWEEP_LOG=$(native "$log")")
fi

if [ ${#failures[@]} -eq 0 ]; then
  echo "ok: smoke run of $program: old.log deleted and logged, young.log and old.txt kept"
  exit 0
fi
for failure in "${failures[@]}"; do
  echo "smoke.sh: FAIL: $failure" >&2
done
if [ -s "$scratch/output" ]; then
  echo "smoke.sh: the program's output:" >&2
  sed 's/^/  /' "$scratch/output" >&2
fi
if [ -f "$log" ]; then
  echo "smoke.sh: the log:" >&2
  tr -d '\r' <"$log" | sed 's/^/  /' >&2
fi
exit 1
