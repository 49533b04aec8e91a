#!/bin/sh
# A safe first run: builds a sample folder inside the build folder, sweeps it
# with a logged quiet run, and prints the log block the run wrote; then checks
# the program with tools/smoke.sh. It touches nothing outside "$1/demo",
# "$1/agesweep.log" (the log is placed there by AGESWEEP_LOG, whatever the
# caller's environment says) and the smoke run's own temporary folder.
set -eu
build=${1:-build}
demo="$build/demo"
log="$build/agesweep.log"
AGESWEEP_LOG=$log
export AGESWEEP_LOG

rm -rf "$demo"
mkdir -p "$demo/old-logs" "$demo/.cache"
for name in app.log web.log notes.txt; do
  echo "sample" > "$demo/$name"
  touch -d '45 days ago' "$demo/$name"
done
echo "sample" > "$demo/today.log"
echo "sample" > "$demo/old-logs/2024-01.log"
touch -d '400 days ago' "$demo/old-logs/2024-01.log"
echo "sample" > "$demo/.cache/stale.log"
touch -d '400 days ago' "$demo/.cache/stale.log"

echo "Sample folder $demo before the sweep:"
(cd "$demo" && find . -type f | sort | sed 's/^/  /')
before=0
[ -f "$log" ] && before=$(wc -c < "$log")
echo
echo "Preview (answers from /dev/null are No, so nothing is deleted):"
echo "Running: $build/agesweep /S /F $demo /W '*.log' /M d /T 30 </dev/null"
"$build/agesweep" /S /F "$demo" /W '*.log' /M d /T 30 </dev/null 2>&1 | sed 's/^/  /'
echo
echo "Running: AGESWEEP_LOG=$log $build/agesweep /Q /S /L /F $demo /W '*.log' /M d /T 30"
"$build/agesweep" /Q /S /L /F "$demo" /W '*.log' /M d /T 30
echo
echo "Log block appended to $log:"
tail -c "+$((before + 1))" "$log" | tr -d '\r'
echo "Left in $demo:"
(cd "$demo" && find . -type f | sort | sed 's/^/  /')
echo
echo "Check on a fresh temporary tree (tools/smoke.sh):"
bash "$(dirname "$0")/smoke.sh" "$build/agesweep"
