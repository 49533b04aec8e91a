#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz (configuring it the
# first time) and runs each for SECONDS on a scratch copy of its seed corpus,
# fuzz/corpus/TARGET; new inputs stay in the scratch copy, so the committed
# corpus only changes by hand. Prints each target's executions, coverage and
# corpus size, and exits 1 when a target found a fault (its log and the
# crashing input are named).
#
#   tools/fuzz.sh SECONDS [TARGET...]    (default: every target)
#
# FUZZ_BUILD names another build folder; JOBS sets the build's parallelism.
set -eu

# All in one function, read whole before it runs: an edit to this file during
# a long run cannot change what the run does next.
main() {
  cd "$(dirname "$0")/.."
  ALL_TARGETS="fuzz_wildcard fuzz_intervals fuzz_run"
  BUILD=${FUZZ_BUILD:-build-fuzz}

  # The longest input worth trying: each target reads a bounded input.
  max_len() {
    case $1 in
      fuzz_wildcard) echo 256 ;;   # a list, a NUL byte and a name
      fuzz_intervals) echo 40 ;;   # 29 bytes of times and up to 8 of code text
      fuzz_run) echo 512 ;;        # an argument text, a NUL byte and answers
      *) echo 4096 ;;
    esac
  }

  usage() {
    echo "usage: $0 SECONDS [TARGET...]  (targets: $ALL_TARGETS)" >&2
    exit 2
  }
  [ $# -ge 1 ] || usage
  seconds=$1
  shift
  case $seconds in '' | *[!0-9]*) usage ;; esac
  targets=${*:-$ALL_TARGETS}
  for t in $targets; do
    case " $ALL_TARGETS " in *" $t "*) ;; *) echo "$0: unknown target $t" >&2; usage ;; esac
  done

  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DAGESWEEP_FUZZ=ON \
      -DAGESWEEP_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  # shellcheck disable=SC2086  # one word per target
  cmake --build "$BUILD" -j "${JOBS:-2}" --target $targets

  status=0
  for t in $targets; do
    work="$BUILD/fuzz-work/$t"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp fuzz/corpus/"$t"/* "$work/corpus/"
    seeds=$(find "$work/corpus" -type f | wc -l)
    dict=
    [ -f "fuzz/$t.dict" ] && dict="-dict=fuzz/$t.dict"
    log="$work/log"
    echo "== $t: $seconds s from $seeds seeds (log $log)"
    # shellcheck disable=SC2086  # $dict is empty or one word
    "$BUILD/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
      -timeout=10 -print_final_stats=1 $dict \
      -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 \
      && rc=0 || rc=$?
    if [ "$rc" -eq 0 ]; then
      done_line=$(grep -a 'DONE' "$log" | tail -n 1)
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
      cov=$(echo "$done_line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
      ft=$(echo "$done_line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
      corp=$(echo "$done_line" | sed -n 's/.*corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p')
      speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
      files=$(find "$work/corpus" -type f | wc -l)
      echo "   $t: no finding; $runs executions ($speed/s), cov $cov, ft $ft," \
           "corpus $corp in memory, $files files in $work/corpus"
      echo "   $done_line"
    else
      status=1
      echo "   $t: FINDING (libFuzzer exit status $rc)"
      grep -a -E 'ERROR|mismatch|^(patterns|name) |intervals:|calendar:|civil time:|Parse|SUMMARY' "$log" \
        | head -n 20 | sed 's/^/   /'
      for a in "$work"/artifacts/*; do
        [ -e "$a" ] && echo "   input: $a" && od -A d -t x1z "$a" | head -n 20 | sed 's/^/     /'
      done
    fi
  done
  exit $status
}
main "$@"
