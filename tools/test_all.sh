#!/usr/bin/env bash
# Builds and runs every test suite: the Linux build, the two sanitizer builds, and
# the Windows build under Wine where MinGW-w64 and Wine are installed. Ends
# with one line counting the tests of all suites, skipped ones with their
# reasons, after the names of the suites that failed. Wine's own start-up
# messages are kept out of the output, in build-win/wine-output.log (named
# when the Windows suites fail). Without GoogleTest it stops at once and
# says what to install.
set -u
cd "$(dirname "$0")/.."
make=${MAKE:-make}
passed=0
failed=0
skipped=0
status=0
failed_suites=()
scratch=$(mktemp -d "${TMPDIR:-/tmp}/agesweep-test-all.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
junit=$scratch/junit.xml
reasons=$scratch/skip-reasons  # one line per skipped test

# GoogleTest, looked up as CMakeLists.txt looks it up: the build leaves the
# tests out without it, and every suite would then fail for want of tests.
command -v cmake >/dev/null || {
  echo "make test needs CMake and a C++ compiler: apt-get install cmake g++" >&2
  exit 1
}
mkdir "$scratch/gtest-probe"
cat > "$scratch/gtest-probe/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(gtest_probe CXX)
find_package(GTest QUIET)
if(NOT TARGET GTest::gtest)
  message(FATAL_ERROR "no GoogleTest")
endif()
CMAKE
if ! probe=$(cmake -S "$scratch/gtest-probe" -B "$scratch/gtest-probe/build" 2>&1); then
  if grep -q 'no GoogleTest' <<<"$probe"; then
    echo "make test needs GoogleTest: apt-get install libgtest-dev" >&2
  else
    printf '%s\n' "$probe" >&2
    echo "make test: CMake cannot configure a C++ project (above)" >&2
  fi
  exit 1
fi

# The tests that ctest's JUnit report `$1` shows as skipped by their own
# choice (not those whose program is missing, which ctest counts as failed),
# one line each: the first line of the message GoogleTest printed after
# "FILE:LINE: Skipped".
skip_reasons() {
  awk '
    /<testcase / { skipped = 0; reason = ""; take = 0 }
    /<skipped message="SKIP_/ { skipped = 1 }
    take { reason = $0; take = 0 }
    /: Skipped$/ && reason == "" { take = 1 }
    /<\/testcase>/ && skipped {
      print (reason == "" || reason ~ /^\[  SKIPPED \]/ ? "no reason shown" : reason)
    }' "$1" |
    sed -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' -e "s/&apos;/'/g" \
      -e 's/&amp;/\&/g'
}

suite() {
  local log rc line s
  log=$scratch/output
  rm -f "$junit"
  "$make" --no-print-directory "$@" CTEST_ARGS="--output-junit $junit" 2>&1 |
    tee "$log"
  rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || { status=1; failed_suites+=("$1"); }
  # ctest: "100% tests passed, 0 tests failed out of 84", skipped tests
  # counted as passed.
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    local f n
    f=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    n=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
    s=0
    if [ -f "$junit" ]; then
      skip_reasons "$junit" >"$scratch/suite-reasons"
      s=$(wc -l <"$scratch/suite-reasons")
      cat "$scratch/suite-reasons" >>"$reasons"
    fi
    passed=$((passed + n - f - s))
    failed=$((failed + f))
    skipped=$((skipped + s))
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
}

suite test-unit
suite test-asan
suite test-tsan
suite test-windows-if-available

echo
for name in "${failed_suites[@]}"; do
  case $name in
    test-windows*) echo "failed: $name (Wine's own messages: ${WIN_BUILD:-build-win}/wine-output.log)" ;;
    *) echo "failed: $name" ;;
  esac
done
why=
if [ "$skipped" -gt 0 ]; then
  # "(reason: count; ...)", the most frequent reason first.
  why=" ($(sort "$reasons" | uniq -c | sort -k1,1nr -k2 |
    awk '{ n = $1; sub(/^ *[0-9]+ /, ""); printf "%s%s: %d", sep, $0, n; sep = "; " }'))"
fi
echo "total: $passed passed, $failed failed, $skipped skipped$why"
exit $status
