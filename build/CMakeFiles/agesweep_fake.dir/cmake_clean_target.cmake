file(REMOVE_RECURSE
  "libagesweep_fake.a"
)
