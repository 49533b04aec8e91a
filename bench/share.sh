# The slow share's mount and unmount, for the benchmark scripts that source
# this file. They set `slowfs` (the agesweep_slowfs program),
# `share_delay_us` and `work` (the run's own folder, where the share's
# output goes to slowfs.txt), and start with share_mnt= share_pid=.

# Mounts the share of folder $1 on $2 and waits until it is mounted.
mount_share() {
  local i
  mkdir -p "$2"
  share_mnt=$2
  "$slowfs" "$1" "$2" --delay-us "$share_delay_us" -f \
    </dev/null >"$work/slowfs.txt" 2>&1 &
  share_pid=$!
  for ((i = 0; i < 200; i++)); do
    if mountpoint -q "$2"; then return 0; fi
    if ! kill -0 "$share_pid" 2>/dev/null; then
      wait "$share_pid" 2>/dev/null || true
      share_pid=
      return 1
    fi
    sleep 0.05
  done
  return 1
}

# Unmounts the share, if mounted, and waits for its server to end, which is
# when it prints its counts. Always tried in that order: a polite unmount,
# then the kernel's, then a lazy one, which cannot be refused; an unmounted
# folder makes every one of them fail harmlessly.
unmount_share() {
  local i
  if [ -n "$share_mnt" ]; then
    fusermount3 -u "$share_mnt" 2>/dev/null ||
      umount "$share_mnt" 2>/dev/null ||
      umount -l "$share_mnt" 2>/dev/null || true
  fi
  if [ -n "$share_pid" ]; then
    for ((i = 0; i < 100; i++)); do
      kill -0 "$share_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$share_pid" 2>/dev/null || true
    wait "$share_pid" 2>/dev/null || true
  fi
  share_mnt= share_pid=
}
