#!/usr/bin/env bash
# The Windows build under Wine and the Linux build, side by side, scanning
# two trees behind the slow share (agesweep_slowfs, every request 0.2 ms),
# with the share's count of requests by operation for every run.
#
#   bash bench/wine_share.sh [LINUX_BUILD [WINDOWS_BUILD]] [--reps N]
#
# LINUX_BUILD (default build) holds agesweep, agesweep_make_tree and
# agesweep_slowfs; WINDOWS_BUILD (default build-win) is a cross build
# holding agesweep.exe, whose CMake cache names Wine (AGESWEEP_WINE; the
# environment variable of that name takes precedence). Neither is built
# here: `make build` (or its targets agesweep agesweep_slowfs
# agesweep_make_tree) and `make windows` make them.
#
# Trees, made as bench/run.sh makes those of its share cases: (f)'s wide
# tree, 10 folders of 500 files, and (g)'s bushy tree of depth 3, 259
# folders of 6 files; half of the names end in .log, and every file is 1 to
# 60 days old. Both programs run
#
#   agesweep /Q /S /F DIR/ /W *.log /M d /T 30000
#
# which is due for nothing: it reads the names and the times of the *.log
# files and deletes none (checked after every run). agesweep.exe is given
# the mount point through Wine's drive Z: (Z:\...\mnt\), the Linux build the
# path itself. A third, empty folder shows what a run costs before it has a
# tree to walk: for agesweep.exe mostly Wine starting the process.
#
# Every run has a fresh mount of its own, so the share's counts (printed by
# agesweep_slowfs when it is unmounted) are those of that run alone. Each
# program runs N times per tree (default 3, the order turned by one each
# time), and 3N times on the empty folder, whose runs are short and whose
# time, mostly Wine's, varies most from run to run; the report gives the median of the wall times and of each
# operation's count, in Markdown tables on stdout (progress goes to stderr),
# and what each *.log file costs beyond the empty folder's run. One untimed
# run of each program comes first, on the empty folder and not through the
# share, so that the first timed one finds Wine's files in the page cache;
# the trees need none, as they are in memory and were just written. Wine runs in a prefix of its
# own, made for this run, with its server started first and kept running, so
# that no timed run pays for starting the server or making the prefix.
#
# Needs: the two builds, Wine, a usable /dev/fuse and the right to mount
# (root, or fusermount3), mountpoint (util-linux). When one is missing the
# script says which and ends with status 0 without measuring anything.
#
# Everything is made inside one folder that this script creates with mktemp
# under /dev/shm (a temporary folder where there is none): the trees, the
# mount points and Wine's prefix. On exit, whatever happens, the share is
# unmounted, Wine's server for that prefix is stopped and the folder is
# removed. The script fails (status 1) when a program fails, deletes a
# file, or selects other files than the generator expects.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build=
win_build=
reps=3
# As in bench/run.sh: the same trees, and the same wait on every request.
seed=20261207
share_delay_us=200
frame_days=30000

usage() {
  sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
}

while [ $# -gt 0 ]; do
  case $1 in
    --reps) reps=${2:?--reps needs a number}; shift ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "wine_share: unknown option $1 (try --help)" >&2; exit 2 ;;
    *)
      if [ -z "$build" ]; then build=$1
      elif [ -z "$win_build" ]; then win_build=$1
      else echo "wine_share: at most two build folders (try --help)" >&2; exit 2
      fi ;;
  esac
  shift
done
case $reps in ''|*[!0-9]*|0) echo "wine_share: --reps must be 1 or more" >&2; exit 2 ;; esac
build=${build:-$repo/build}
win_build=${win_build:-$repo/build-win}

say() { printf '%s\n' "$*" >&2; }

# Ends the script, measuring nothing, when something it needs is missing.
skip_all() {
  say "wine_share: skipped: $1"
  exit 0
}

# ---------------------------------------------------------------- what is needed
for name in agesweep agesweep_make_tree agesweep_slowfs; do
  [ -x "$build/$name" ] ||
    skip_all "$build/$name is missing (make build BUILD=$build; agesweep_slowfs needs libfuse3-dev and pkg-config)"
done
[ -f "$win_build/agesweep.exe" ] ||
  skip_all "$win_build/agesweep.exe is missing (make windows WIN_BUILD=$win_build)"
build=$(cd "$build" && pwd)
win_build=$(cd "$win_build" && pwd)
agesweep=$build/agesweep
make_tree=$build/agesweep_make_tree
slowfs=$build/agesweep_slowfs
exe=$win_build/agesweep.exe

# Wine's loader as the Windows tests find it (run_windows_suites.py): the
# environment's AGESWEEP_WINE, else the cross build's cache; its server is
# the wineserver beside it.
wine=${AGESWEEP_WINE:-}
if [ -z "$wine" ] && [ -f "$win_build/CMakeCache.txt" ]; then
  wine=$(sed -n 's/^AGESWEEP_WINE:[A-Z]*=//p' "$win_build/CMakeCache.txt")
fi
[ -n "$wine" ] || skip_all "$win_build is not a cross build naming Wine (AGESWEEP_WINE) in its CMake cache"
[ -x "$wine" ] || skip_all "Wine ($wine) is not installed (Debian package wine64)"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver 2>/dev/null) ||
  skip_all "wineserver is missing beside $wine"

[ -c /dev/fuse ] || skip_all "/dev/fuse is missing"
command -v mountpoint >/dev/null 2>&1 || skip_all "mountpoint (util-linux) is missing"

# ---------------------------------------------------------------- work folder
base=/dev/shm
if [ ! -d "$base" ] || [ ! -w "$base" ]; then base=${TMPDIR:-/tmp}; fi
work=$(mktemp -d "$base/agesweep-wine-share.XXXXXX")
share_mnt=
share_pid=
wine_started=0

# Wine in a prefix of this run's own, never the user's ~/.wine; its own
# messages are not wanted, nor the .NET and HTML engines it would offer to
# install; no display is needed by a console program.
wine_env=(env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$work/prefix" WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=" LC_ALL=C.UTF-8)

# mount_share and unmount_share.
. "$(dirname "${BASH_SOURCE[0]}")/share.sh"

cleanup() {
  set +e
  unmount_share
  if [ "$wine_started" = 1 ]; then
    "${wine_env[@]}" "$wineserver" -k >/dev/null 2>&1
  fi
  # Only the folder mktemp made, and never across into a mount inside it.
  case $work in "$base"/agesweep-wine-share.*) rm -rf --one-file-system -- "$work" ;; esac
}
trap cleanup EXIT
trap 'exit 130' INT TERM


mkdir "$work/probe"
if ! mount_share "$work/probe" "$work/mnt"; then
  why=$(head -n 1 "$work/slowfs.txt" 2>/dev/null || true)
  unmount_share
  skip_all "mounting agesweep_slowfs failed: ${why:-no message}"
fi
unmount_share

# ---------------------------------------------------------------- Wine
say "wine_share: making a Wine prefix ($("$wine" --version 2>/dev/null || echo "version unknown"))"
# The server stays up for the whole run, so each program started finds it;
# it starts only in an existing prefix folder, which wineboot then fills.
mkdir "$work/prefix"
"${wine_env[@]}" "$wineserver" -p >"$work/wineserver.txt" 2>&1 || {
  say "wine_share: wineserver did not start:"
  cat "$work/wineserver.txt" >&2
  exit 1
}
wine_started=1
"${wine_env[@]}" "$wine" wineboot -i </dev/null >"$work/wineboot.txt" 2>&1 || {
  say "wine_share: wineboot failed:"
  cat "$work/wineboot.txt" >&2
  exit 1
}

# The Windows name of Linux path $1 through Wine's drive Z:, with a
# backslash at the end as the switches give it.
win_path() {
  local p=${1//\//\\}
  printf 'Z:%s\\' "$p"
}

# The command of program $1 (exe or native) for folder $2 (its Linux path)
# and time frame $3, in the array cmd.
command_for() {
  case $1 in
    exe) cmd=("${wine_env[@]}" "$wine" "$exe" /Q /S /F "$(win_path "$2")"
              /W '*.log' /M d /T "$3") ;;
    native) cmd=(env LC_ALL=C "$agesweep" /Q /S /F "$2/" /W '*.log' /M d /T "$3") ;;
  esac
}

prog_name() {
  case $1 in exe) echo "agesweep.exe (Wine)" ;; native) echo "agesweep (Linux)" ;; esac
}

# Runs the command in cmd from $work (never from inside the share, which
# would add Wine's look-ups of its current folder); sets wall to its
# seconds. A failed run ends the script.
run_cmd() {
  local t0 t1
  t0=$(date +%s%N)
  if ! (cd "$work" && "${cmd[@]}") </dev/null >"$work/stdout.txt" 2>"$work/stderr.txt"; then
    say "wine_share: command failed: ${cmd[*]}"
    cat "$work/stdout.txt" "$work/stderr.txt" >&2
    exit 1
  fi
  t1=$(date +%s%N)
  wall=$(awk -v ns=$((t1 - t0)) 'BEGIN { printf "%.4f", ns / 1e9 }')
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

# The number of files and of *.log files in folder $1, as "files logs".
count_files() {
  printf '%s %s\n' "$(find "$1" -type f | wc -l)" "$(find "$1" -type f -name '*.log' | wc -l)"
}

# Untimed, on a copy of the tree (not through the share): each program, with
# a time frame of 30 days, deletes exactly the generator's t_log_due *.log
# files, so both see the same files as matching and due. make_tree's
# arguments follow $1, the copy's folder.
check_selection() {
  local copy=$1 p left
  shift
  for p in exe native; do
    rm -rf -- "$copy"
    make_tree --root "$copy" "$@"
    command_for "$p" "$copy" 30
    run_cmd
    left=$(count_files "$copy")
    if [ "$left" != "$((t_files - t_log_due)) $((t_log_files - t_log_due))" ]; then
      say "wine_share: $(prog_name "$p") with 30 days left $left (files, *.log) of" \
          "$t_files files; expected $((t_files - t_log_due)) $((t_log_files - t_log_due))"
      exit 1
    fi
  done
  rm -rf -- "$copy"
}

# One run of program $1 on folder $2 through a fresh mount: sets wall, and
# writes the share's counts ("operation count" lines, total last) to file $3.
share_run() {
  local p=$1 backing=$2 counts=$3 before after
  before=$(count_files "$backing")
  mount_share "$backing" "$work/mnt" || {
    say "wine_share: mounting the share failed:"
    cat "$work/slowfs.txt" >&2
    exit 1
  }
  command_for "$p" "$share_mnt" "$frame_days"
  run_cmd
  unmount_share
  sed -n 's/^slowfs requests: \([a-z]*\) \([0-9]*\)$/\1 \2/p' "$work/slowfs.txt" >"$counts"
  if ! grep -q '^total ' "$counts"; then
    say "wine_share: the share printed no counts:"
    cat "$work/slowfs.txt" >&2
    exit 1
  fi
  after=$(count_files "$backing")
  if [ "$after" != "$before" ]; then
    say "wine_share: $(prog_name "$p") deleted files in $backing: $before before, $after after (files, *.log)"
    exit 1
  fi
}

rows=()       # one per tree and program: "tree|program|wall|files of counts"
ops_seen=" "  # operations with a count in any run, in the share's order

# Measures both programs on folder $1 (tree named $2, summary $3): $4 runs
# each, the order turned by one per run.
measure_tree() {
  local backing=$1 name=$2 summary=$3 reps=$4 r i p n progs=(exe native) walls counts op
  say "wine_share: $name: $summary"
  for p in "${progs[@]}"; do eval "walls_$p=()"; done
  n=${#progs[@]}
  for ((r = 0; r < reps; r++)); do
    for ((i = 0; i < n; i++)); do
      p=${progs[(r + i) % n]}
      share_run "$p" "$backing" "$work/counts-$p-$r.txt"
      eval "walls_$p+=(\"$wall\")"
      say "  $(prog_name "$p") run $((r + 1)): $wall s, $(sed -n 's/^total //p' "$work/counts-$p-$r.txt") requests"
    done
  done
  for p in "${progs[@]}"; do
    eval "walls=(\"\${walls_$p[@]}\")"
    # Each operation's median over the runs (0 in a run that had none).
    counts=$work/median-$name-$p.txt
    for ((r = 0; r < reps; r++)); do cat "$work/counts-$p-$r.txt"; done |
      awk -v reps="$reps" '
        { if (!($1 in n)) order[++k] = $1; v[$1, ++n[$1]] = $2 }
        END {
          for (j = 1; j <= k; j++) {
            op = order[j]; m = 0
            for (i = 1; i <= reps; i++) a[i] = (i <= n[op]) ? v[op, i] : 0
            for (i = 1; i <= reps; i++)       # insertion sort, reps is small
              for (x = i; x > 1 && a[x - 1] > a[x]; x--) { t = a[x]; a[x] = a[x - 1]; a[x - 1] = t }
            m = (reps % 2) ? a[(reps + 1) / 2] : (a[reps / 2] + a[reps / 2 + 1]) / 2
            print op, m
          }
        }' >"$counts"
    while read -r op _; do
      case $ops_seen in *" $op "*) ;; *) [ "$op" = total ] || ops_seen="$ops_seen$op " ;; esac
    done <"$counts"
    rows+=("$name|$(prog_name "$p")|$(median "${walls[@]}")|$counts")
  done
}

# ---------------------------------------------------------------- trees
# An untimed run of each on an empty folder, so that the first timed
# agesweep.exe does not load Wine's libraries from a cold page cache.
mkdir "$work/empty"
for p in exe native; do
  command_for "$p" "$work/empty" "$frame_days"
  run_cmd
done

empty_reps=$((3 * reps))
measure_tree "$work/empty" empty "an empty folder: the fixed cost of a run" "$empty_reps"
empty_exe=$work/median-empty-exe.txt
empty_native=$work/median-empty-native.txt

trees=(wide bushy)
wide_args=(--folders 10 --files 500 --log-percent 50)
bushy_args=(--bushy 3 --log-percent 50)
wide_label="wide, 10 x 500"
bushy_label="bushy, depth 3"
for tree in "${trees[@]}"; do
  eval "args=(\"\${${tree}_args[@]}\")"
  check_selection "$work/copy" "${args[@]}"
  make_tree --root "$work/$tree" "${args[@]}"
  eval "${tree}_logs=$t_log_files ${tree}_entries=$t_entries"
  measure_tree "$work/$tree" "$tree" \
    "$t_folders folders, $t_files files, $t_log_files *.log (none due in $frame_days days)" "$reps"
done

# ---------------------------------------------------------------- report
ops=($ops_seen)
count_of() { awk -v op="$2" '$1 == op { print $2; found = 1 } END { if (!found) print 0 }' "$1"; }

label() {
  case $1 in
    empty) echo "empty folder" ;;
    *) eval "echo \"\$${1}_label\"" ;;
  esac
}

header="| Tree | Program | Wall s | Requests"
rule="| --- | --- | ---: | ---:"
for op in "${ops[@]}"; do header+=" | $op"; rule+=" | ---:"; done
echo "Through agesweep_slowfs ($share_delay_us µs a request, nothing cached), \`/Q /S /F DIR/ /W *.log /M d /T $frame_days\`" \
     "(agesweep.exe: \`Z:\\...\\\`);" \
     "median of $reps runs ($empty_reps on the empty folder), each on a fresh mount; $("$wine" --version 2>/dev/null || echo Wine) for agesweep.exe."
echo
echo "$header |"
echo "$rule |"
for row in "${rows[@]}"; do
  IFS='|' read -r name prog w counts <<<"$row"
  line="| $(label "$name") | $prog | $(printf '%.3f' "$w") | $(count_of "$counts" total)"
  for op in "${ops[@]}"; do line+=" | $(count_of "$counts" "$op")"; done
  echo "$line |"
done

# What each *.log file (every one matched, none due) costs beyond an empty
# folder's run: the difference of the counts over the number of *.log files.
echo
echo "Per *.log file: (requests of the run - requests of the empty folder's run) / *.log files in the tree."
echo
echo "$header |" | sed 's/| Wall s //'
echo "$rule |" | sed 's/| ---: //'
for row in "${rows[@]}"; do
  IFS='|' read -r name prog w counts <<<"$row"
  [ "$name" = empty ] && continue
  eval "logs=\$${name}_logs"
  case $prog in *Wine*) empty_counts=$empty_exe ;; *) empty_counts=$empty_native ;; esac
  line="| $(label "$name"), $logs *.log | $prog"
  for op in total "${ops[@]}"; do
    line+=" | $(awk -v a="$(count_of "$counts" "$op")" -v b="$(count_of "$empty_counts" "$op")" \
      -v n="$logs" 'BEGIN { printf "%.2f", (a - b) / n }')"
  done
  echo "$line |"
done
