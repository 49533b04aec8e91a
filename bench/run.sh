#!/usr/bin/env bash
# Benchmark of agesweep against GNU find on generated folder trees.
#
#   bash bench/run.sh [--quick] [--reps N] [--build DIR] [--out FILE]
#                     [--agesweep BINARY]
#
# --quick: 100,000 entries instead of 1,000,000 (and a flat folder of 20,000
# files instead of 200,000), 3 runs per case instead of 5, report in
# BUILD/bench-quick.md instead of bench/RESULTS.md. --agesweep: measure
# another build of agesweep (an older revision, say) instead of BUILD's.
#
# Needs: bash, cmake and a C++ compiler (to build the two programs),
# coreutils, findutils and /usr/bin/time (Debian package "time").
# How to read the output: bench/README.md.
#
# Every tree is made by agesweep_make_tree inside one folder that this script
# creates with mktemp under /dev/shm (RAM-backed; a temporary folder when
# there is none) and removes on exit, whatever happens. Neither program is
# pointed anywhere else, and agesweep runs without /L, so it writes nothing
# outside the tree.
#
# The script fails (exit status 1) when a program fails or when, in case (b),
# agesweep and find leave different files behind. The speed and memory goals
# are reported, never enforced: timings depend on the machine.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build=$repo/build
quick=0
reps=
out=
other_agesweep=

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --reps) reps=${2:?--reps needs a number}; shift ;;
    --build) build=${2:?--build needs a folder}; shift ;;
    --out) out=${2:?--out needs a file}; shift ;;
    --agesweep) other_agesweep=${2:?--agesweep needs a program}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "bench: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ "$quick" = 1 ]; then
  n_folders=100 n_files=1000 n_flat=20000 reps=${reps:-3} mode="quick"
  out=${out:-$build/bench-quick.md}
else
  n_folders=1000 n_files=1000 n_flat=200000 reps=${reps:-5} mode="full"
  out=${out:-$here/RESULTS.md}
fi
case $reps in ''|*[!0-9]*|0) echo "bench: --reps must be 1 or more" >&2; exit 2 ;; esac
seed=20261207

for tool in /usr/bin/time find cmake sort awk mktemp; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "bench: $tool is missing (/usr/bin/time: Debian package \"time\")" >&2
    exit 2
  fi
done

# ---------------------------------------------------------------- build
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target agesweep agesweep_make_tree -j "$(nproc)" >/dev/null
agesweep=${other_agesweep:-$build/agesweep}
make_tree=$build/agesweep_make_tree
if [ -n "$other_agesweep" ]; then
  agesweep=$(cd "$(dirname "$agesweep")" && pwd)/$(basename "$agesweep")
fi

# ---------------------------------------------------------------- work folder
base=/dev/shm
if [ ! -d "$base" ] || [ ! -w "$base" ]; then base=${TMPDIR:-/tmp}; fi
work=$(mktemp -d "$base/agesweep-bench.XXXXXX")
cleanup() {
  # Only the folder mktemp made for this run.
  case $work in "$base"/agesweep-bench.*) rm -rf -- "$work" ;; esac
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() { printf '%s\n' "$*" >&2; }

# Runs a command under /usr/bin/time; prints "wall user sys maxrss_kb", wall
# in seconds from the nanosecond clock (time's own %e has 10 ms steps).
measure() {
  local t0 t1
  t0=$(date +%s%N)
  if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" \
      >"$work/stdout.txt" 2>"$work/stderr.txt"; then
    say "bench: command failed: $*"
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  t1=$(date +%s%N)
  tail -n 1 "$work/time.txt" | awk -v ns=$((t1 - t0)) \
    '{ printf "%.4f %s %s %s\n", ns / 1e9, $2, $3, $4 }'
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Generates a tree; sets t_folders, t_files, t_entries, t_log_files and
# t_log_due from the generator's summary.
make_tree() {
  local summary
  summary=$("$make_tree" --seed "$seed" "$@")
  eval "$(printf '%s\n' "$summary" | grep -E '^[a-z_]+=[0-9]+$' | sed 's/^/t_/')"
}

# Adds one run's figures to the lists of program $1.
record() {
  local prog=$1 wall user sys rss
  read -r wall user sys rss <<<"$2"
  eval "${prog}_wall+=(\"$wall\")"
  eval "${prog}_cpu+=(\"$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')\")"
  eval "${prog}_user+=(\"$user\")"
  eval "${prog}_sys+=(\"$sys\")"
  eval "${prog}_rss+=(\"$rss\")"
}

reset_lists() {
  for p in as fd; do
    for k in wall cpu user sys rss; do eval "${p}_$k=()"; done
  done
}

rows=()   # Markdown rows
goals=()  # Markdown lines

# Summarises a case: name, entries, goal ratio.
summarise() {
  local name=$1 entries=$2 goal=$3
  local p w c u s r eps ratio verdict
  for p in as fd; do
    eval "w=\$(median \"\${${p}_wall[@]}\")"
    eval "c=\$(median \"\${${p}_cpu[@]}\")"
    eval "u=\$(median \"\${${p}_user[@]}\")"
    eval "s=\$(median \"\${${p}_sys[@]}\")"
    eval "r=\$(median \"\${${p}_rss[@]}\")"
    eval "${p}_w=$w ${p}_r=$r"
    eps=$(awk -v e="$entries" -v w="$w" 'BEGIN { printf "%.0f", e / w }')
    local prog=agesweep
    [ "$p" = fd ] && prog=find
    rows+=("$(printf '| %s | %s | %s | %.3f | %.2f | %.2f | %.2f | %s | %.1f |' \
      "$name" "$entries" "$prog" "$w" "$u" "$s" "$c" "$eps" \
      "$(awk -v k="$r" 'BEGIN { print k / 1024 }')")")
    say "$(printf '  %-8s wall %.3f s  cpu %.2f s (user %.2f, sys %.2f)  %s entries/s  peak RSS %.1f MiB' \
      "$prog" "$w" "$c" "$u" "$s" "$eps" "$(awk -v k="$r" 'BEGIN { print k / 1024 }')")"
  done
  ratio=$(awk -v a="$as_w" -v f="$fd_w" 'BEGIN { printf "%.3f", a / f }')
  verdict=$(awk -v r="$ratio" -v g="$goal" 'BEGIN {
    if (r <= g) print "met"; else printf "missed by %.0f%%", (r / g - 1) * 100 }')
  say "  ratio agesweep/find (wall): $ratio (goal at most $goal: $verdict)"
  goals+=("| $name | wall agesweep/find | $ratio | at most $goal | $verdict |")
}

say "bench: $mode run, $reps runs per case, trees in $work"

# ---------------------------------------------------------------- case (a)
say "case (a): $n_folders folders of $n_files files, scan only"
tree=$work/a
make_tree --root "$tree" --folders "$n_folders" --files "$n_files"
entries_a=$t_entries
# Files matching *.log: agesweep's memory must not grow with them. (Every
# generated name is in lower case, so find's case-sensitive -name picks the
# same files as agesweep's list.)
matched_a=$(find "$tree" -type f -name '*.log' | wc -l)
a_agesweep=(env LC_ALL=C "$agesweep" /Q /S /F "$tree" /W '*.log' /M d /T 32767)
a_find=(find "$tree" -name '*.log' -mtime +32767)
reset_lists
measure "${a_agesweep[@]}" >/dev/null  # warm-up, not counted
measure "${a_find[@]}" >/dev/null
for ((r = 1; r <= reps; r++)); do
  if ((r % 2)); then
    record as "$(measure "${a_agesweep[@]}")"; record fd "$(measure "${a_find[@]}")"
  else
    record fd "$(measure "${a_find[@]}")"; record as "$(measure "${a_agesweep[@]}")"
  fi
done
left=$(find "$tree" -type f | wc -l)
if [ "$left" != "$t_files" ]; then
  say "bench: case (a) deleted files: $left of $t_files left"
  exit 1
fi
summarise "(a) scan, nothing due" "$entries_a" 0.80
rss_a=$as_r
rss_limit_mib=8
rss_verdict=$(awk -v r="$rss_a" -v l="$rss_limit_mib" 'BEGIN {
  if (r <= l * 1024) print "met"; else printf "missed by %.1f MiB", r / 1024 - l }')
say "  matched files: $matched_a; agesweep peak RSS $rss_a KiB; limit $rss_limit_mib MiB ($rss_verdict)"
goals+=("| (a) scan, nothing due | agesweep peak RSS, $matched_a files matched | $(awk -v k="$rss_a" 'BEGIN { printf "%.1f MiB", k / 1024 }') | at most $rss_limit_mib MiB, whatever the number of matches | $rss_verdict |")
rm -rf -- "$tree"

# ---------------------------------------------------------------- case (b)
say "case (b): $n_folders folders of $n_files files, delete *.log 30 days or older"
reset_lists
for ((r = 1; r <= reps; r++)); do
  now=$(date +%s)
  ta=$work/b-agesweep tf=$work/b-find
  make_tree --root "$ta" --folders "$n_folders" --files "$n_files" --now "$now"
  make_tree --root "$tf" --folders "$n_folders" --files "$n_files" --now "$now"
  entries_b=$t_entries
  b_agesweep=(env LC_ALL=C "$agesweep" /Q /S /F "$ta" /W '*.log' /M d /T 30)
  b_find=(find "$tf" -name '*.log' -mtime +29 -delete)
  if ((r % 2)); then
    record as "$(measure "${b_agesweep[@]}")"; record fd "$(measure "${b_find[@]}")"
  else
    record fd "$(measure "${b_find[@]}")"; record as "$(measure "${b_agesweep[@]}")"
  fi
  (cd "$ta" && find . -printf '%y %p\n' | LC_ALL=C sort) >"$work/left-agesweep.txt"
  (cd "$tf" && find . -printf '%y %p\n' | LC_ALL=C sort) >"$work/left-find.txt"
  if ! cmp -s "$work/left-agesweep.txt" "$work/left-find.txt"; then
    say "bench: case (b): agesweep and find left different files:"
    diff "$work/left-agesweep.txt" "$work/left-find.txt" | head -20 >&2 || true
    exit 1
  fi
  logs_left=$(grep -c '^f .*\.log$' "$work/left-agesweep.txt" || true)
  if [ "$logs_left" != "$((t_log_files - t_log_due))" ]; then
    say "bench: case (b): $logs_left *.log files left, expected $((t_log_files - t_log_due))"
    exit 1
  fi
  rm -rf -- "$ta" "$tf"
done
say "  both left the same $((t_files - t_log_due)) of $t_files files ($t_log_due of $t_log_files *.log deleted)"
summarise "(b) delete about half of *.log" "$entries_b" 1.00

# ---------------------------------------------------------------- case (c)
say "case (c): one folder of $n_flat files, scan only"
tree=$work/c
make_tree --root "$tree" --flat "$n_flat"
entries_c=$t_entries
c_agesweep=(env LC_ALL=C "$agesweep" /Q /S /F "$tree" /W '*.log' /M d /T 32767)
c_find=(find "$tree" -name '*.log' -mtime +32767)
reset_lists
measure "${c_agesweep[@]}" >/dev/null
measure "${c_find[@]}" >/dev/null
for ((r = 1; r <= reps; r++)); do
  if ((r % 2)); then
    record as "$(measure "${c_agesweep[@]}")"; record fd "$(measure "${c_find[@]}")"
  else
    record fd "$(measure "${c_find[@]}")"; record as "$(measure "${c_agesweep[@]}")"
  fi
done
summarise "(c) flat folder, scan only" "$entries_c" 0.80
rm -rf -- "$tree"

# ---------------------------------------------------------------- report
cpu=$(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//')
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo 2>/dev/null)
fs=$(stat -f -c %T "$work" 2>/dev/null || echo unknown)
revision=$(git -C "$repo" describe --always --dirty 2>/dev/null || echo unknown)
{
  echo "# agesweep benchmark results"
  echo
  echo "Made by \`bash bench/run.sh$([ "$quick" = 1 ] && echo ' --quick')\` ($mode run, median of $reps runs per case) on $(date -u '+%Y-%m-%d %H:%M UTC'); how to read it: [README.md](README.md)."
  echo
  echo "| Machine | |"
  echo "| --- | --- |"
  echo "| CPU | ${cpu:-unknown} |"
  echo "| Cores | $(nproc) |"
  echo "| Memory | ${mem:-unknown} |"
  echo "| Kernel | $(uname -sr) |"
  echo "| File system of the trees | $fs ($base) |"
  echo "| find | $(find --version | head -n 1) |"
  if [ -n "$other_agesweep" ]; then
    echo "| agesweep | $agesweep |"
  else
    echo "| agesweep | revision $revision, build type $(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt") |"
  fi
  echo
  echo "Commands (DIR is the generated tree; agesweep runs with LC_ALL=C):"
  echo
  echo "- (a), (c): \`agesweep /Q /S /F DIR /W *.log /M d /T 32767\` and \`find DIR -name '*.log' -mtime +32767\`"
  echo "- (b): \`agesweep /Q /S /F DIR /W *.log /M d /T 30\` and \`find DIR -name '*.log' -mtime +29 -delete\`, each on its own copy of the tree; the files left are then compared"
  echo
  echo "| Case | Entries | Program | Wall s | User s | Sys s | CPU s | Entries/s | Peak RSS MiB |"
  echo "| --- | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: |"
  printf '%s\n' "${rows[@]}"
  echo
  echo "| Case | Goal measure | Value | Goal | Verdict |"
  echo "| --- | --- | ---: | --- | --- |"
  printf '%s\n' "${goals[@]}"
} >"$out"
say "bench: results written to $out"
