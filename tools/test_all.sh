#!/usr/bin/env bash
# Builds and runs every test suite: the Linux build, the sanitizer build, and
# the Windows build under Wine where MinGW-w64 and Wine are installed. Ends
# with one line counting the tests of all suites, after the names of the
# suites that failed. Wine's own start-up messages are kept out of the output,
# in build-win/wine-output.log (named when the Windows suites fail).
set -u
cd "$(dirname "$0")/.."
make=${MAKE:-make}
passed=0
failed=0
status=0
failed_suites=()

suite() {
  local log rc line
  log=$(mktemp)
  "$make" --no-print-directory "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || { status=1; failed_suites+=("$1"); }
  # ctest: "100% tests passed, 0 tests failed out of 84"
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    local f n
    f=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    n=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + n - f))
    failed=$((failed + f))
  else
    # The Windows suites: "N passed, N failed"
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
    if [ -n "$line" ]; then
      passed=$((passed + $(sed -E 's/^([0-9]+) passed.*/\1/' <<<"$line")))
      failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
    elif [ "$rc" -ne 0 ]; then
      failed=$((failed + 1))  # the suite did not get as far as its tests
    fi
  fi
  rm -f "$log"
}

suite test-unit
suite test-asan
suite test-windows-if-available

echo
for name in "${failed_suites[@]}"; do
  case $name in
    test-windows*) echo "failed: $name (Wine's own messages: ${WIN_BUILD:-build-win}/wine-output.log)" ;;
    *) echo "failed: $name" ;;
  esac
done
echo "total: $passed passed, $failed failed"
exit $status
