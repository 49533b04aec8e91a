file(REMOVE_RECURSE
  "libagesweep_core.a"
)
