file(REMOVE_RECURSE
  "libagesweep_posix.a"
)
