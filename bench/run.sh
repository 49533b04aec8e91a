#!/usr/bin/env bash
# Benchmark of agesweep against GNU find, and fd and bfs where they are
# installed, on generated folder trees.
#
#   bash bench/run.sh [--quick] [--reps N] [--cases LIST] [--cold]
#                     [--cold-folders N] [--build DIR] [--out FILE]
#                     [--agesweep BINARY] [--bfs4 BINARY]
#
# Cases (bench/README.md): (a) scan of 1,000 folders of 1,000 files, (b)
# deletion of about half of *.log, (c) one flat folder, (d) scan of a tree
# where half of the files are *.log, (e) the same on a disk with the caches
# dropped before every run, (f) and (g) scans over a slow share (the FUSE
# file system agesweep_slowfs, every request 0.2 ms): a wide and a bushy
# tree. Deletions, every program on a fresh copy of the tree for every run,
# next to find -delete, find | xargs -P16 rm, fd -j16 -X rm and bfs: (h)
# and (i) through the slow share, 10 folders of 500 files and 20 of 1,000,
# about half of them due; (j) in memory, 100 folders of 1,000 files, about a
# quarter due; (k) a logged sweep (/L) deleting about 500,000 files, for its
# peak memory next to find -delete's.
#
# --quick: 100,000 entries instead of 1,000,000 in (a) and (b), a flat folder
# of 20,000 files instead of 200,000, 40,000 files instead of 200,000 in (d),
# (f) and (g) without their larger extra trees, (h) on 10 x 100 files,
# (i) on 20 x 100, (j) on 20 x 1,000, about 50,000 files deleted in (k)
# instead of 500,000, 3 runs per case instead of 5, report in
# BUILD/bench-quick.md instead of bench/RESULTS.md; (e) only with --cold.
# --cases: only the cases listed, as in --cases a,d,f (the report then goes
# to BUILD/bench-cases.md unless --quick or --out says otherwise). --cold:
# add (e) to a quick run or to the cases listed. --cold-folders N: (e)'s
# tree has N folders of 1,000 files (default 400, quick 20). --agesweep:
# measure another build of agesweep (an older revision, say) instead of
# BUILD's. --bfs4: a bfs 4 program (not packaged in Debian 12), run with
# -j16 in (h), (i) and (j); without it those rows are left out.
#
# Needs: bash, cmake and a C++ compiler (to build the programs), coreutils,
# findutils and /usr/bin/time (Debian package "time"). Optional: fd (Debian
# package fd-find) for its columns; bfs (Debian package bfs) for its rows in
# (h) to (j); libfuse 3 with pkg-config (libfuse3-dev, pkg-config) to build
# the share, fuse3 and a usable /dev/fuse to mount it, for (f) to (i);
# permission to drop the kernel's caches (root), for (e). What is missing is
# said, and its cases or columns are skipped.
# How to read the output: bench/README.md.
#
# Every tree is made by agesweep_make_tree inside one folder that this script
# creates with mktemp under /dev/shm (RAM-backed; a temporary folder when
# there is none), except (e)'s, made in a folder created with mktemp under
# $TMPDIR or /var/tmp, whichever is not RAM-backed. The copies that (h) to
# (k) delete from are made in the first folder too, and the share is mounted
# on a folder inside it. On exit, whatever happens, the share is unmounted
# and both folders are removed. No program is pointed anywhere else;
# agesweep runs with /L only in (k), and AGESWEEP_LOG then names a file in
# the first folder, so it writes nothing outside them.
#
# The script fails (exit status 1) when a program fails, when the programs
# would select different files, or when, in (b), through the share in (f),
# and in (h) to (k), the programs leave different files behind (in (h) to
# (k) each is compared with find, and with its own earlier runs). The speed
# and memory goals are reported, never enforced: timings depend on the
# machine.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build=$repo/build
quick=0
reps=
out=
other_agesweep=
bfs4_bin=
cases_wanted=
cold=0
cold_folders=
invocation="bash bench/run.sh${*:+ $*}"

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --reps) reps=${2:?--reps needs a number}; shift ;;
    --cases) cases_wanted=${2:?--cases needs a list such as a,d,f}; shift ;;
    --cold) cold=1 ;;
    --cold-folders) cold_folders=${2:?--cold-folders needs a number}; shift ;;
    --build) build=${2:?--build needs a folder}; shift ;;
    --out) out=${2:?--out needs a file}; shift ;;
    --agesweep) other_agesweep=${2:?--agesweep needs a program}; shift ;;
    --bfs4) bfs4_bin=${2:?--bfs4 needs a program}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "bench: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

if [ "$quick" = 1 ]; then
  n_folders=100 n_files=1000 n_flat=20000 reps=${reps:-3} mode="quick"
  d_folders=40 e_folders=${cold_folders:-20}
  h_files=100 i_files=100 j_folders=20 k_folders=100
  out=${out:-$build/bench-quick.md}
  cases=abcdfghijk
else
  n_folders=1000 n_files=1000 n_flat=200000 reps=${reps:-5} mode="full"
  d_folders=200 e_folders=${cold_folders:-400}
  h_files=500 i_files=1000 j_folders=100 k_folders=1000
  if [ -n "$cases_wanted" ]; then out=${out:-$build/bench-cases.md}; fi
  out=${out:-$here/RESULTS.md}
  cases=abcdefghijk
fi
case $reps in ''|*[!0-9]*|0) echo "bench: --reps must be 1 or more" >&2; exit 2 ;; esac
case $e_folders in ''|*[!0-9]*|0) echo "bench: --cold-folders must be 1 or more" >&2; exit 2 ;; esac
if [ -n "$cases_wanted" ]; then
  cases=$(printf '%s' "$cases_wanted" | tr -d ', ')
  case $cases in ''|*[!a-k]*)
    echo "bench: --cases takes letters a to k, as in --cases a,d,f" >&2; exit 2 ;;
  esac
fi
if [ "$cold" = 1 ]; then cases=${cases}e; fi
wanted() { case $cases in *"$1"*) return 0 ;; *) return 1 ;; esac; }
seed=20261207
# Every request to the share waits this long, as for a round trip to a file
# server; the goals of (f) and (g) are set for it.
share_delay_us=200

for tool in /usr/bin/time find cmake sort awk mktemp; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "bench: $tool is missing (/usr/bin/time: Debian package \"time\")" >&2
    exit 2
  fi
done

say() { printf '%s\n' "$*" >&2; }

# The type of the file system holding folder $1: findmnt names it as mount
# does (ext4), stat only by its magic number (ext2/ext3 for ext4).
# With mounts stacked on one folder, the last listed is the one seen.
fs_type() {
  local type
  type=$(findmnt -n -o FSTYPE --target "$1" 2>/dev/null | tail -n 1) || true
  if [ -z "$type" ]; then type=$(stat -f -c %T "$1" 2>/dev/null) || type=unknown; fi
  printf '%s\n' "$type"
}

# fd is called fdfind where another package took the name fd (Debian).
fd_bin=
for name in fdfind fd; do
  if command -v "$name" >/dev/null 2>&1 &&
     "$name" --version 2>/dev/null | grep -q '^fd'; then
    fd_bin=$(command -v "$name")
    break
  fi
done
if [ -z "$fd_bin" ] && [[ $cases == *[d-j]* ]]; then
  say "bench: fd is not installed (Debian package fd-find): its columns are skipped"
fi

# bfs as packaged (2.6 in Debian 12), run as find is; and bfs 4, which
# walks in several threads with -j, only where given with --bfs4.
bfs_bin= bfs_version= bfs4_version=
if command -v bfs >/dev/null 2>&1 && bfs --version 2>/dev/null | grep -q '^bfs '; then
  bfs_bin=$(command -v bfs)
  bfs_version=$("$bfs_bin" --version | head -n 1 | sed 's/^bfs //')
elif [[ $cases == *[h-j]* ]]; then
  say "bench: bfs is not installed (Debian package bfs): its rows are skipped"
fi
if [ -n "$bfs4_bin" ]; then
  if [ ! -x "$bfs4_bin" ] || [ -d "$bfs4_bin" ] ||
     ! "$bfs4_bin" --version 2>/dev/null | grep -q '^bfs '; then
    echo "bench: --bfs4 $bfs4_bin is not a bfs program" >&2
    exit 2
  fi
  bfs4_bin=$(cd "$(dirname "$bfs4_bin")" && pwd)/$(basename "$bfs4_bin")
  bfs4_version=$("$bfs4_bin" --version | head -n 1 | sed 's/^bfs //')
elif [[ $cases == *[h-j]* ]]; then
  say "bench: no --bfs4 given: bfs 4's rows and goals in (h) to (j) are skipped"
fi

# ---------------------------------------------------------------- build
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
targets=(agesweep agesweep_make_tree)
# The share is built where CMake found libfuse 3 (CMakeLists.txt); a build
# configured before it was installed looks again.
if ! grep -q '^FUSE3_FOUND:INTERNAL=1$' "$build/CMakeCache.txt" &&
   pkg-config --exists fuse3 2>/dev/null; then
  cmake -S "$repo" -B "$build" >/dev/null
fi
if grep -q '^FUSE3_FOUND:INTERNAL=1$' "$build/CMakeCache.txt"; then
  targets+=(agesweep_slowfs)
fi
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)" >/dev/null
agesweep=${other_agesweep:-$build/agesweep}
make_tree=$build/agesweep_make_tree
slowfs=$build/agesweep_slowfs
if [ -n "$other_agesweep" ]; then
  agesweep=$(cd "$(dirname "$agesweep")" && pwd)/$(basename "$agesweep")
fi

# ---------------------------------------------------------------- work folders
base=/dev/shm
if [ ! -d "$base" ] || [ ! -w "$base" ]; then base=${TMPDIR:-/tmp}; fi
work=$(mktemp -d "$base/agesweep-bench.XXXXXX")
cold_base=
cold_work=
share_mnt=
share_pid=
walk_pids=()  # the share check's walks, while they run

# mount_share and unmount_share.
. "$(dirname "${BASH_SOURCE[0]}")/share.sh"

cleanup() {
  set +e
  local p
  for p in "${walk_pids[@]}"; do kill "$p" 2>/dev/null; done
  unmount_share
  # Only the folders mktemp made for this run, and never across into a
  # file system still mounted inside them.
  case $work in "$base"/agesweep-bench.*) rm -rf --one-file-system -- "$work" ;; esac
  if [ -n "$cold_work" ]; then
    case $cold_work in "$cold_base"/agesweep-bench-cold.*) rm -rf -- "$cold_work" ;; esac
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# bfs before 3.0 has no -j: it refuses the option, and would fail in (h).
if [ -n "$bfs4_bin" ] && ! "$bfs4_bin" -j16 "$work" -maxdepth 0 >/dev/null 2>&1; then
  say "bench: --bfs4 $bfs4_bin does not take -j16 (bfs $bfs4_version)"
  exit 2
fi

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

# Prints what tree $1 holds, one entry a line with its type, sorted.
list_tree() {
  (cd "$1" && find . -printf '%y %p\n' | LC_ALL=C sort)
}

# Fails the run unless the lists of entries $2 and $3 are equal; $1 says
# whose they are for the message.
same_lists() {
  if ! cmp -s "$2" "$3"; then
    say "bench: $1 left different files:"
    diff "$2" "$3" | head -20 >&2 || true
    exit 1
  fi
}

# Fails the run unless the trees $2 (agesweep's) and $3 (find's) hold the
# same entries; $1 names the two for the message. Leaves agesweep's list in
# $work/left-agesweep.txt.
same_files_left() {
  list_tree "$2" >"$work/left-agesweep.txt"
  list_tree "$3" >"$work/left-find.txt"
  same_lists "$1" "$work/left-agesweep.txt" "$work/left-find.txt"
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

# Programs by key: as agesweep, gf GNU find, gx find piping to xargs -P16
# rm, fd fd, b2 bfs as installed, b4 bfs 4 with -j16.
all_progs=(as gf gx fd b2 b4)
prog_name() {
  case $1 in
    as) echo agesweep ;; gf) echo find ;; gx) echo "find + xargs -P16 rm" ;;
    fd) echo fd ;; b2) echo "bfs ${bfs_version:-2.6}" ;;
    b4) echo "bfs ${bfs4_version:-4} -j16" ;;
  esac
}

# Why program $1 has no runs: only the optional ones can lack them.
why_missing() {
  case $1 in
    fd|b2) echo "not installed" ;;
    b4) echo "not given (--bfs4)" ;;
    *) echo "not run" ;;
  esac
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

# Measures one run of program $1, the command that follows, and records it.
# The assignment on its own line lets a failed run end the script.
timed() {
  local prog=$1 figures
  shift
  figures=$(measure "$@")
  record "$prog" "$figures"
}

reset_lists() {
  for p in "${all_progs[@]}"; do
    for k in wall cpu user sys rss; do eval "${p}_$k=()"; done
  done
}

# The programs of the case (keys in progs) run their commands (arrays cmd_as,
# cmd_gf, cmd_fd) once per repetition, in an order turned by one each time,
# so that none is always first; $1, a command, runs untimed before each run.
time_programs() {
  local prepare=$1 r i p n=${#progs[@]}
  for ((r = 0; r < reps; r++)); do
    for ((i = 0; i < n; i++)); do
      p=${progs[(r + i) % n]}
      $prepare
      eval "timed $p \"\${cmd_$p[@]}\""
    done
  done
}

# One untimed run of each, so that the first timed one finds what the
# others find in memory.
warm_up() {
  local p
  for p in "${progs[@]}"; do
    eval "measure \"\${cmd_$p[@]}\"" >/dev/null
  done
}

# Sets progs and the scan commands of tree $1: the same selection for all,
# nothing due (the time frame is a 16-bit number in agesweep).
scan_commands() {
  cmd_as=(env LC_ALL=C "$agesweep" /Q /S /F "$1" /W '*.log' /M d /T 32767)
  cmd_gf=(find "$1" -name '*.log' -mtime +32767)
  # fd passes over hidden names and names its ignore files list unless told
  # not to; -t f looks at the type the listing gives, and --changed-before
  # reads the time of every file that matched, as the others do.
  cmd_fd=("$fd_bin" --no-ignore --hidden -t f -g '*.log' --changed-before 32767d "$1")
  progs=(as gf)
  if [ -n "$fd_bin" ]; then progs+=(fd); fi
}

# Fails unless the programs select the same files in tree $1 when the time
# frame is 30 days: the generator's t_log_due *.log files, each 30 or more
# days old (see make_tree.cc). Untimed; agesweep only lists (--dry-run).
# With $2 "bfs", the bfs programs that are there are counted too.
check_selection() {
  local tree=$1 n_as n_gf n_fd bfs n_bfs
  if ! env LC_ALL=C "$agesweep" /Q /S /F "$tree" /W '*.log' /M d /T 30 --dry-run \
      >"$work/selected.txt" 2>"$work/stderr.txt"; then
    say "bench: agesweep --dry-run failed on $tree"
    cat "$work/stderr.txt" >&2
    exit 1
  fi
  n_as=$(wc -l <"$work/selected.txt")
  n_gf=$(find "$tree" -name '*.log' -mtime +29 | wc -l)
  n_fd=-
  if [ -n "$fd_bin" ]; then
    n_fd=$("$fd_bin" --no-ignore --hidden -t f -g '*.log' --changed-before 30d "$tree" | wc -l)
  fi
  if [ "$n_as" != "$t_log_due" ] || [ "$n_gf" != "$t_log_due" ] ||
     { [ -n "$fd_bin" ] && [ "$n_fd" != "$t_log_due" ]; }; then
    say "bench: the programs select different files in $tree with 30 days:" \
        "agesweep $n_as, find $n_gf, fd $n_fd; expected $t_log_due"
    exit 1
  fi
  if [ "${2:-}" = bfs ]; then
    for bfs in "$bfs_bin" "$bfs4_bin"; do
      [ -n "$bfs" ] || continue
      n_bfs=$("$bfs" "$tree" -name '*.log' -mtime +29 | wc -l)
      if [ "$n_bfs" != "$t_log_due" ]; then
        say "bench: $bfs selects $n_bfs files in $tree with 30 days; expected $t_log_due"
        exit 1
      fi
    done
  fi
}

rows=()    # Markdown rows of the results table
goals=()   # Markdown rows of the goals table
ratios=()  # Markdown rows of the ratios that have no goal
notes=()   # Markdown lines: cases skipped and why

# Summarises a case: name, entries, then the programs agesweep is compared
# with, each as KEY or KEY=GOAL (the highest ratio of agesweep's wall time
# to that program's that meets the goal). KEY/KEY/...=GOAL compares with
# the fastest of those measured.
summarise() {
  local name=$1 entries=$2
  shift 2
  local p n w c u s r eps prog spec other goal ratio verdict other_w k
  local keys missing goal_note
  for p in "${all_progs[@]}"; do
    eval "n=\${#${p}_wall[@]}"
    [ "$n" -gt 0 ] || continue
    eval "w=\$(median \"\${${p}_wall[@]}\")"
    eval "c=\$(median \"\${${p}_cpu[@]}\")"
    eval "u=\$(median \"\${${p}_user[@]}\")"
    eval "s=\$(median \"\${${p}_sys[@]}\")"
    eval "r=\$(median \"\${${p}_rss[@]}\")"
    eval "${p}_w=$w ${p}_r=$r"
    eps=$(awk -v e="$entries" -v w="$w" 'BEGIN { printf "%.0f", e / w }')
    prog=$(prog_name "$p")
    rows+=("$(printf '| %s | %s | %s | %.3f | %.2f | %.2f | %.2f | %s | %.1f |' \
      "$name" "$entries" "$prog" "$w" "$u" "$s" "$c" "$eps" \
      "$(awk -v k="$r" 'BEGIN { print k / 1024 }')")")
    say "$(printf '  %-20s wall %.3f s  cpu %.2f s (user %.2f, sys %.2f)  %s entries/s  peak RSS %.1f MiB' \
      "$prog" "$w" "$c" "$u" "$s" "$eps" "$(awk -v k="$r" 'BEGIN { print k / 1024 }')")"
  done
  for spec in "$@"; do
    goal=
    if [ "$spec" != "${spec%%=*}" ]; then goal=${spec#*=}; fi
    IFS=/ read -ra keys <<<"${spec%%=*}"
    other= missing=
    for k in "${keys[@]}"; do
      eval "n=\${#${k}_wall[@]}"
      if [ "$n" -eq 0 ]; then
        missing+="${missing:+; }$(prog_name "$k"): $(why_missing "$k")"
        continue
      fi
      eval "w=\$${k}_w"
      if [ -z "$other" ] || awk -v a="$w" -v b="$other_w" 'BEGIN { exit !(a < b) }'; then
        other=$k other_w=$w
      fi
    done
    if [ "${#keys[@]}" -eq 1 ]; then
      prog=$(prog_name "${keys[0]}")
    else
      prog="fastest of $(for k in "${keys[@]}"; do prog_name "$k"; done |
        paste -sd , - | sed 's/,/, /g')"
      if [ -n "$other" ]; then prog+=" (here $(prog_name "$other"))"; fi
    fi
    if [ -z "$other" ]; then
      if [ -n "$goal" ]; then
        say "  ratio agesweep/$prog (wall): not measured, $missing (goal at most $goal)"
        goals+=("| $name | wall agesweep/$prog | - | at most $goal | not measured: $missing |")
      fi
      continue
    fi
    # Those of several that were not measured are named beside the goal.
    if [ "${#keys[@]}" -gt 1 ] && [ -n "$missing" ] && [ -n "$goal" ]; then
      goal_note=" ($missing)"
    else
      goal_note=
    fi
    ratio=$(awk -v a="$as_w" -v f="$other_w" 'BEGIN { printf "%.3f", a / f }')
    if [ -n "$goal" ]; then
      verdict=$(awk -v r="$ratio" -v g="$goal" 'BEGIN {
        if (r <= g) print "met"; else printf "missed by %.0f%%", (r / g - 1) * 100 }')
      say "  ratio agesweep/$prog (wall): $ratio (goal at most $goal: $verdict)$goal_note"
      goals+=("| $name | wall agesweep/$prog | $ratio | at most $goal | $verdict$goal_note |")
    else
      say "  ratio agesweep/$prog (wall): $ratio (no goal)"
      ratios+=("| $name | wall agesweep/$prog | $ratio |")
    fi
  done
}

skip() {
  say "bench: $1"
  notes+=("- $1")
}

# ---------------------------------------------------------------- case (a)
case_a() {
  say "case (a): $n_folders folders of $n_files files, scan only"
  local tree=$work/a entries_a matched_a left rss_a rss_limit_mib rss_verdict
  make_tree --root "$tree" --folders "$n_folders" --files "$n_files"
  entries_a=$t_entries
  # Files matching *.log: agesweep's memory must not grow with them. (Every
  # generated name is in lower case, so find's case-sensitive -name picks the
  # same files as agesweep's list.)
  matched_a=$(find "$tree" -type f -name '*.log' | wc -l)
  scan_commands "$tree"
  progs=(as gf)
  reset_lists
  warm_up
  time_programs :
  left=$(find "$tree" -type f | wc -l)
  if [ "$left" != "$t_files" ]; then
    say "bench: case (a) deleted files: $left of $t_files left"
    exit 1
  fi
  summarise "(a) scan, nothing due" "$entries_a" gf=0.80
  rss_a=$as_r
  # 8 MiB for the walk, and the 4 MiB it may hold read ahead (README.md).
  rss_limit_mib=12
  rss_verdict=$(awk -v r="$rss_a" -v l="$rss_limit_mib" 'BEGIN {
    if (r <= l * 1024) print "met"; else printf "missed by %.1f MiB", r / 1024 - l }')
  say "  matched files: $matched_a; agesweep peak RSS $rss_a KiB; limit $rss_limit_mib MiB ($rss_verdict)"
  goals+=("| (a) scan, nothing due | agesweep peak RSS, $matched_a files matched | $(awk -v k="$rss_a" 'BEGIN { printf "%.1f MiB", k / 1024 }') | at most $rss_limit_mib MiB, whatever the number of matches | $rss_verdict |")
  rm -rf -- "$tree"
}

# ---------------------------------------------------------------- case (b)
case_b() {
  say "case (b): $n_folders folders of $n_files files, delete *.log 30 days or older"
  local r now ta tf entries_b logs_left b_agesweep b_find
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
      timed as "${b_agesweep[@]}"; timed gf "${b_find[@]}"
    else
      timed gf "${b_find[@]}"; timed as "${b_agesweep[@]}"
    fi
    same_files_left "case (b): agesweep and find" "$ta" "$tf"
    logs_left=$(grep -c '^f .*\.log$' "$work/left-agesweep.txt" || true)
    if [ "$logs_left" != "$((t_log_files - t_log_due))" ]; then
      say "bench: case (b): $logs_left *.log files left, expected $((t_log_files - t_log_due))"
      exit 1
    fi
    rm -rf -- "$ta" "$tf"
  done
  say "  both left the same $((t_files - t_log_due)) of $t_files files ($t_log_due of $t_log_files *.log deleted)"
  summarise "(b) delete about half of *.log" "$entries_b" gf=1.00
}

# ---------------------------------------------------------------- case (c)
case_c() {
  say "case (c): one folder of $n_flat files, scan only"
  local tree=$work/c entries_c
  make_tree --root "$tree" --flat "$n_flat"
  entries_c=$t_entries
  scan_commands "$tree"
  progs=(as gf)
  reset_lists
  warm_up
  time_programs :
  summarise "(c) flat folder, scan only" "$entries_c" gf=0.80
  rm -rf -- "$tree"
}

# Fails unless tree $1 still holds all of its t_files files.
check_untouched() {
  local left
  left=$(find "$1" -type f | wc -l)
  if [ "$left" != "$t_files" ]; then
    say "bench: $2 deleted files: $left of $t_files left"
    exit 1
  fi
}

# ---------------------------------------------------------------- case (d)
case_d() {
  say "case (d): $d_folders folders of 1000 files, half of them *.log, scan only"
  local tree=$work/d
  make_tree --root "$tree" --folders "$d_folders" --files 1000 --log-percent 50
  check_selection "$tree"
  scan_commands "$tree"
  reset_lists
  warm_up
  time_programs :
  check_untouched "$tree" "case (d)"
  summarise "(d) scan, half *.log, nothing due" "$t_entries" gf=0.60 fd
  rm -rf -- "$tree"
}

# ---------------------------------------------------------------- case (e)
cold_fs=

drop_caches() {
  sync
  echo 3 >/proc/sys/vm/drop_caches
}

# A folder for (e)'s tree on a file system that keeps its data on a disk:
# $TMPDIR, else /var/tmp, when not RAM-backed.
find_cold_base() {
  local candidate fs
  for candidate in "${TMPDIR:-}" /var/tmp; do
    [ -n "$candidate" ] && [ -d "$candidate" ] && [ -w "$candidate" ] || continue
    fs=$(fs_type "$candidate")
    case $fs in tmpfs|ramfs|unknown) continue ;; esac
    cold_base=$(cd "$candidate" && pwd) cold_fs=$fs
    return 0
  done
  return 1
}

case_e() {
  say "case (e): $e_folders folders of 1000 files on a disk, half of them *.log," \
      "caches dropped before every run, scan only"
  local tree
  if ! (drop_caches) 2>/dev/null; then
    skip "case (e) skipped: the kernel's caches cannot be dropped here (writing /proc/sys/vm/drop_caches needs root, outside a container)"
    return 0
  fi
  if ! find_cold_base; then
    skip "case (e) skipped: neither \$TMPDIR nor /var/tmp is a writable folder on a disk (both RAM-backed or missing)"
    return 0
  fi
  cold_work=$(mktemp -d "$cold_base/agesweep-bench-cold.XXXXXX")
  tree=$cold_work/e
  say "  tree in $cold_base ($cold_fs)"
  make_tree --root "$tree" --folders "$e_folders" --files 1000 --log-percent 50
  check_selection "$tree"
  scan_commands "$tree"
  reset_lists
  time_programs drop_caches
  check_untouched "$tree" "case (e)"
  summarise "(e) cold cache on $cold_fs, scan" "$t_entries" fd=0.90 gf
  rm -rf -- "$cold_work"
  cold_work=
}

# ---------------------------------------------------------------- share
share_state=unknown  # unknown, usable or skipped


# Tries a mount once; on failure says why the share cases are skipped.
share_usable() {
  local why=
  if [ "$share_state" = unknown ]; then
    if [ ! -x "$slowfs" ]; then
      why="agesweep_slowfs was not built: CMake did not find libfuse 3 through pkg-config (Debian packages libfuse3-dev, pkg-config)"
    elif [ ! -c /dev/fuse ]; then
      why="/dev/fuse is missing"
    elif ! command -v mountpoint >/dev/null 2>&1; then
      why="mountpoint (util-linux) is missing"
    else
      mkdir "$work/probe"
      if ! mount_share "$work/probe" "$work/mnt"; then
        why="mounting agesweep_slowfs failed: $(head -n 1 "$work/slowfs.txt" 2>/dev/null || true)"
      fi
      unmount_share
      rmdir "$work/probe" "$work/mnt" 2>/dev/null || true
    fi
    if [ -n "$why" ]; then
      share_state=skipped
      skip "share cases $(printf '%s' "$cases" | tr -cd 'fghi' | sed 's/./(&), /g; s/, $//') skipped: $why"
    else
      share_state=usable
    fi
  fi
  [ "$share_state" = usable ]
}

share_parallel=  # eight walks at once took this many times as long as one

# Untimed, once: eight walks of the mounted share at once against one alone.
# A file server answers a client's requests side by side; if the share
# served them one after another, a program that keeps many requests in
# flight would gain nothing here that it gains on a real share.
share_parallel_check() {
  local t0 t1 t2 i p
  t0=$(date +%s%N)
  find "$1" -name '*.log' -mtime +32767
  t1=$(date +%s%N)
  walk_pids=()
  for ((i = 0; i < 8; i++)); do
    find "$1" -name '*.log' -mtime +32767 &
    walk_pids+=("$!")
  done
  for p in "${walk_pids[@]}"; do
    wait "$p" || { say "bench: a walk of the share failed"; exit 1; }
  done
  walk_pids=()
  t2=$(date +%s%N)
  share_parallel=$(awk -v one=$((t1 - t0)) -v eight=$((t2 - t1)) \
    'BEGIN { printf "%.1f", eight / one }')
  say "  share check: 8 walks at once took ${share_parallel}x the time of one"
  if awk -v r="$share_parallel" 'BEGIN { exit !(r > 4) }'; then
    say "bench: warning: the share answers requests nearly one after another;" \
        "the share cases do not show what a program gains from requests in flight"
    notes+=("- warning: 8 walks of the share at once took ${share_parallel}x the time of one; it answers requests nearly one after another, unlike a file server")
  fi
}

# Scans the tree in folder $2 through the share; $1 names the row, $3 and
# more are summarise's comparisons.
share_scan() {
  local name=$1 backing=$2
  shift 2
  check_selection "$backing"
  mount_share "$backing" "$work/mnt" || {
    say "bench: mounting the share failed:"
    cat "$work/slowfs.txt" >&2
    exit 1
  }
  if [ -z "$share_parallel" ]; then share_parallel_check "$work/mnt"; fi
  scan_commands "$work/mnt"
  reset_lists
  warm_up
  time_programs :
  check_untouched "$backing" "case $name"
  summarise "$name" "$t_entries" "$@"
}

# ---------------------------------------------------------------- case (f)
case_f() {
  share_usable || return 0
  local tree=$work/f ref=$work/f-ref now
  now=$(date +%s)
  say "case (f): share ($share_delay_us µs a request), 10 folders of 500 files, half of them *.log, scan only"
  make_tree --root "$tree" --folders 10 --files 500 --log-percent 50 --now "$now"
  share_scan "(f) share, wide, 10 x 500" "$tree" gf=0.20 fd=0.30
  # Untimed: agesweep deletes through the share what find deletes from a copy.
  measure env LC_ALL=C "$agesweep" /Q /S /F "$work/mnt" /W '*.log' /M d /T 30 >/dev/null
  unmount_share
  make_tree --root "$ref" --folders 10 --files 500 --log-percent 50 --now "$now"
  find "$ref" -name '*.log' -mtime +29 -delete
  same_files_left "case (f): agesweep through the share and find" "$tree" "$ref"
  say "  through the share agesweep deleted the same $t_log_due *.log files as find"
  rm -rf -- "$tree" "$ref"

  if [ "$quick" = 0 ]; then
    say "case (f): share, 20 folders of 1000 files, half of them *.log, scan only"
    make_tree --root "$tree" --folders 20 --files 1000 --log-percent 50
    share_scan "(f) share, wide, 20 x 1000" "$tree" gf fd
    unmount_share
    rm -rf -- "$tree"
  fi
}

# ---------------------------------------------------------------- case (g)
case_g() {
  share_usable || return 0
  local tree=$work/g depth depths=(3)
  if [ "$quick" = 0 ]; then depths+=(4); fi
  for depth in "${depths[@]}"; do
    say "case (g): share ($share_delay_us µs a request), bushy tree of depth $depth" \
        "(6 files and 6 folders a folder), half of them *.log, scan only"
    make_tree --root "$tree" --bushy "$depth" --log-percent 50
    if [ "$depth" = 3 ]; then
      share_scan "(g) share, bushy, depth 3" "$tree" gf=0.30 fd=0.40
    else
      share_scan "(g) share, bushy, depth $depth" "$tree" gf fd
    fi
    unmount_share
    rm -rf -- "$tree"
  done
}

# ---------------------------------------------------------------- deletions
# Cases (h) to (k) delete the *.log files 30 or more days old. Every run of
# every program starts from a fresh copy of the case's tree (cp -a keeps the
# times), made untimed, so that each deletes the same files; what each run
# leaves must be what that program left the first time, and in the end what
# every program left must be what find left.

# Sets progs and the deletion commands on folder $1, each selecting what
# check_selection counts: *.log files due with a time frame of 30 days.
delete_commands() {
  local dir=$1
  cmd_as=(env LC_ALL=C "$agesweep" /Q /S /F "$dir" /W '*.log' /M d /T 30)
  cmd_gf=(find "$dir" -name '*.log' -mtime +29 -delete)
  # xargs fills each rm's command line (128 KiB, some 1,800 of these
  # paths) before it starts the next, so -P16 has several rm running only
  # where thousands of files are due.
  cmd_gx=(bash -c 'set -o pipefail
    find "$1" -name "*.log" -mtime +29 -print0 | xargs -0 -r -P16 rm --' bench "$dir")
  # fd hands rm all of its paths at once (-X), after finding them with 16
  # threads.
  cmd_fd=("$fd_bin" --no-ignore --hidden -t f -g '*.log' --changed-before 30d -j16
    "$dir" -X rm --)
  cmd_b2=("$bfs_bin" "$dir" -name '*.log' -mtime +29 -delete)
  cmd_b4=("$bfs4_bin" -j16 "$dir" -name '*.log' -mtime +29 -delete)
  progs=(as gf gx)
  if [ -n "$fd_bin" ]; then progs+=(fd); fi
  if [ -n "$bfs_bin" ]; then progs+=(b2); fi
  if [ -n "$bfs4_bin" ]; then progs+=(b4); fi
}

del_log=  # in (k), agesweep's log file, made anew by each of its runs

# Fails unless agesweep's log names every file that was due as deleted.
check_log() {
  local n
  n=$(grep -c '^Delete: ' "$del_log" || true)
  if [ "$n" != "$t_log_due" ]; then
    say "bench: agesweep's log names $n files deleted; $t_log_due were due"
    exit 1
  fi
}

# Lists what program $1 left in tree $2 into $work/left/KEY.txt on its
# first run; on a later run, fails unless it left the same.
check_run_left() {
  local first=$work/left/$1.txt
  if [ -f "$first" ]; then
    list_tree "$2" >"$work/left/now.txt"
    same_lists "$(prog_name "$1"), from one run to the next," "$first" "$work/left/now.txt"
  else
    list_tree "$2" >"$first"
  fi
}

# The programs of the case run reps times each, in an order turned by one
# each time, every run on a fresh copy at $2 of tree $1; with $3 "share",
# through the share mounted from the copy on $work/mnt, a fresh mount for
# every run.
time_deletions() {
  local master=$1 copy=$2 via=${3:-} r i p n=${#progs[@]}
  rm -rf -- "$work/left"
  mkdir "$work/left"
  for ((r = 0; r < reps; r++)); do
    for ((i = 0; i < n; i++)); do
      p=${progs[(r + i) % n]}
      rm -rf -- "$copy"
      cp -a -- "$master" "$copy"
      if [ "$p" = as ] && [ -n "$del_log" ]; then rm -f -- "$del_log"; fi
      if [ "$via" = share ]; then
        mount_share "$copy" "$work/mnt" || {
          say "bench: mounting the share failed:"
          cat "$work/slowfs.txt" >&2
          exit 1
        }
      fi
      eval "timed $p \"\${cmd_$p[@]}\""
      if [ "$via" = share ]; then unmount_share; fi
      check_run_left "$p" "$copy"
      if [ "$p" = as ] && [ -n "$del_log" ]; then check_log; fi
    done
  done
  rm -rf -- "$copy"
}

# Fails unless find left what the generator expects (every file but the
# due *.log ones) and every other program left what find left; $1 names the
# case.
check_deletions() {
  local p files_left logs_left
  files_left=$(grep -c '^f ' "$work/left/gf.txt" || true)
  logs_left=$(grep -c '^f .*\.log$' "$work/left/gf.txt" || true)
  if [ "$files_left" != "$((t_files - t_log_due))" ] ||
     [ "$logs_left" != "$((t_log_files - t_log_due))" ]; then
    say "bench: case $1: find left $files_left files, $logs_left of them *.log;" \
        "expected $((t_files - t_log_due)), $((t_log_files - t_log_due)) *.log"
    exit 1
  fi
  for p in "${progs[@]}"; do
    if [ "$p" != gf ]; then
      same_lists "case $1: $(prog_name "$p") and find" "$work/left/$p.txt" "$work/left/gf.txt"
    fi
  done
  say "  all left the same $((t_files - t_log_due)) of $t_files files ($t_log_due of $t_log_files *.log deleted)"
}

# Deletes through the share from a tree of $3 folders of $4 files, all
# *.log, in folder $work/$2; $1 names the row, $5 and more are summarise's
# comparisons.
share_delete() {
  local name=$1 master=$work/$2 folders=$3 files=$4
  shift 4
  make_tree --root "$master" --folders "$folders" --files "$files" --log-percent 100
  check_selection "$master" bfs
  if [ -z "$share_parallel" ]; then
    mount_share "$master" "$work/mnt" || {
      say "bench: mounting the share failed:"
      cat "$work/slowfs.txt" >&2
      exit 1
    }
    share_parallel_check "$work/mnt"
    unmount_share
  fi
  delete_commands "$work/mnt"
  reset_lists
  time_deletions "$master" "$master-run" share
  check_deletions "${name%% *}"
  summarise "$name" "$t_entries" "$@"
  rm -rf -- "$master"
}

# ---------------------------------------------------------------- case (h)
case_h() {
  share_usable || return 0
  say "case (h): share ($share_delay_us µs a request), 10 folders of $h_files files," \
      "all *.log, delete those 30 days or older (about half)"
  share_delete "(h) share, delete half, 10 x $h_files" h 10 "$h_files" \
    gf=0.25 b4=0.50 gx fd b2
}

# ---------------------------------------------------------------- case (i)
case_i() {
  share_usable || return 0
  say "case (i): share ($share_delay_us µs a request), 20 folders of $i_files files," \
      "all *.log, delete those 30 days or older (about half)"
  share_delete "(i) share, delete half, 20 x $i_files" i 20 "$i_files" \
    gf=0.25 b4=0.50 gx fd b2
}

# ---------------------------------------------------------------- case (j)
case_j() {
  local master=$work/j
  say "case (j): $j_folders folders of 1000 files, half of them *.log," \
      "delete those 30 days or older (about a quarter of the files)"
  make_tree --root "$master" --folders "$j_folders" --files 1000 --log-percent 50
  check_selection "$master" bfs
  delete_commands "$master-run"
  reset_lists
  time_deletions "$master" "$master-run"
  check_deletions "(j)"
  summarise "(j) delete a quarter, $j_folders x 1000" "$t_entries" \
    gf/b2/b4=0.75 gf gx fd b2 b4
  rm -rf -- "$master"
}

# ---------------------------------------------------------------- case (k)
case_k() {
  local master=$work/k rss_limit_mib=16 rss_verdict as_mib gf_mib
  say "case (k): $k_folders folders of 1000 files, all *.log, logged sweep (/L)" \
      "deleting those 30 days or older (about half)"
  make_tree --root "$master" --folders "$k_folders" --files 1000 --log-percent 100
  check_selection "$master"
  del_log=$work/k-sweep.log
  cmd_as=(env LC_ALL=C AGESWEEP_LOG="$del_log" "$agesweep" /Q /L /S /F "$master-run"
    /W '*.log' /M d /T 30)
  cmd_gf=(find "$master-run" -name '*.log' -mtime +29 -delete)
  progs=(as gf)
  reset_lists
  time_deletions "$master" "$master-run"
  check_deletions "(k)"
  summarise "(k) logged sweep, $k_folders x 1000" "$t_entries" gf
  # The log names every file deleted; the sweep's memory must not grow
  # with them.
  as_mib=$(awk -v k="$as_r" 'BEGIN { printf "%.1f", k / 1024 }')
  gf_mib=$(awk -v k="$gf_r" 'BEGIN { printf "%.1f", k / 1024 }')
  rss_verdict=$(awk -v r="$as_r" -v l="$rss_limit_mib" 'BEGIN {
    if (r <= l * 1024) print "met"; else printf "missed by %.1f MiB", r / 1024 - l }')
  say "  agesweep peak RSS $as_mib MiB with $t_log_due files deleted and logged" \
      "(find -delete $gf_mib MiB); limit $rss_limit_mib MiB ($rss_verdict)"
  goals+=("| (k) logged sweep, $k_folders x 1000 | agesweep peak RSS, $t_log_due files deleted and logged (find -delete: $gf_mib MiB) | $as_mib MiB | at most $rss_limit_mib MiB | $rss_verdict |")
  rm -f -- "$del_log"
  del_log=
  rm -rf -- "$master"
}

say "bench: $mode run, $reps runs per case, cases $(printf '%s' "$cases" | sed 's/./&,/g; s/,$//'), trees in $work"
for c in a b c d e f g h i j k; do
  if wanted "$c"; then "case_$c"; fi
done

# ---------------------------------------------------------------- report
cpu=$(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ *//')
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo 2>/dev/null)
fs=$(fs_type "$work")
revision=$(git -C "$repo" describe --always --dirty 2>/dev/null || echo unknown)
fuse_version=$(sed -n 's/^FUSE3_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
# Whether case $1 was measured.
ran() {
  wanted "$1" || return 1
  case $1 in
    e) [ -n "$cold_fs" ] ;;
    f|g|h|i) [ "$share_state" = usable ] ;;
  esac
}
{
  echo "# agesweep benchmark results"
  echo
  echo "Made by \`$invocation\` ($mode run, median of $reps runs per case) on $(date -u '+%Y-%m-%d %H:%M UTC'); how to read it: [README.md](README.md)."
  echo
  echo "| Machine | |"
  echo "| --- | --- |"
  echo "| CPU | ${cpu:-unknown} |"
  echo "| Cores | $(nproc) |"
  echo "| Memory | ${mem:-unknown} |"
  echo "| Kernel | $(uname -sr) |"
  echo "| File system of the trees | $fs ($base) |"
  if [ -n "$cold_fs" ]; then
    echo "| File system of (e)'s tree | $cold_fs ($cold_base) |"
  fi
  if [ "$share_state" = usable ]; then
    echo "| Share of (f) to (i) | agesweep_slowfs (libfuse ${fuse_version:-3}) over $fs, $share_delay_us µs a request, nothing cached; 8 walks at once took ${share_parallel:-?}x the time of one |"
  fi
  echo "| find | $(find --version | head -n 1) |"
  if [ -n "$fd_bin" ]; then
    echo "| fd | $("$fd_bin" --version | head -n 1) |"
  else
    echo "| fd | not installed |"
  fi
  if ran h || ran i || ran j; then
    echo "| bfs | ${bfs_version:-not installed}${bfs_bin:+ ($bfs_bin)} |"
    echo "| bfs 4 (--bfs4) | ${bfs4_version:-not given}${bfs4_bin:+ ($bfs4_bin)} |"
  fi
  if [ -n "$other_agesweep" ]; then
    echo "| agesweep | $agesweep |"
  else
    echo "| agesweep | revision $revision, build type $(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt") |"
  fi
  echo
  echo "Commands (DIR is the generated tree, or the share's mount point; agesweep runs with LC_ALL=C):"
  echo
  if ran a || ran c; then
    echo "- (a), (c): \`agesweep /Q /S /F DIR /W *.log /M d /T 32767\` and \`find DIR -name '*.log' -mtime +32767\`"
  fi
  if ran b; then
    echo "- (b): \`agesweep /Q /S /F DIR /W *.log /M d /T 30\` and \`find DIR -name '*.log' -mtime +29 -delete\`, each on its own copy of the tree; the files left are then compared"
  fi
  if ran d || ran e || ran f || ran g; then
    echo "- (d) to (g): as (a), and \`$(basename "${fd_bin:-fd}") --no-ignore --hidden -t f -g '*.log' --changed-before 32767d DIR\`$([ -z "$fd_bin" ] && echo ' (fd not installed: not run)'); (e) drops the kernel's caches (\`sync; echo 3 > /proc/sys/vm/drop_caches\`) before every run"
  fi
  if ran h || ran i || ran j; then
    echo "- (h) to (j), each program on a fresh copy of the tree (\`cp -a\`, untimed) for every run, through a fresh mount of the share in (h) and (i); the files left are then compared: \`agesweep /Q /S /F DIR /W *.log /M d /T 30\`, \`find DIR -name '*.log' -mtime +29 -delete\`, \`find DIR -name '*.log' -mtime +29 -print0 | xargs -0 -r -P16 rm --\`, \`$(basename "${fd_bin:-fd}") --no-ignore --hidden -t f -g '*.log' --changed-before 30d -j16 DIR -X rm --\`$([ -z "$fd_bin" ] && echo ' (not installed: not run)'), \`bfs DIR -name '*.log' -mtime +29 -delete\`$([ -z "$bfs_bin" ] && echo ' (not installed: not run)') and \`bfs -j16 DIR -name '*.log' -mtime +29 -delete\` with bfs 4$([ -z "$bfs4_bin" ] && echo ' (not given: not run)')"
  fi
  if ran k; then
    echo "- (k): \`AGESWEEP_LOG=FILE agesweep /Q /L /S /F DIR /W *.log /M d /T 30\` (FILE in the run's work folder, made anew each run) and \`find DIR -name '*.log' -mtime +29 -delete\`, each on a fresh copy of the tree; the files left are then compared, and the log must name every file deleted"
  fi
  echo
  echo "| Case | Entries | Program | Wall s | User s | Sys s | CPU s | Entries/s | Peak RSS MiB |"
  echo "| --- | ---: | --- | ---: | ---: | ---: | ---: | ---: | ---: |"
  printf '%s\n' "${rows[@]}"
  echo
  echo "| Case | Goal measure | Value | Goal | Verdict |"
  echo "| --- | --- | ---: | --- | --- |"
  printf '%s\n' "${goals[@]}"
  if [ "${#ratios[@]}" -gt 0 ]; then
    echo
    echo "| Case | Ratio without a goal | Value |"
    echo "| --- | --- | ---: |"
    printf '%s\n' "${ratios[@]}"
  fi
  if [ "${#notes[@]}" -gt 0 ]; then
    echo
    echo "Not measured:"
    echo
    printf '%s\n' "${notes[@]}"
  fi
} >"$out"
say "bench: results written to $out"
