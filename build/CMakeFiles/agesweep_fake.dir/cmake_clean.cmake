file(REMOVE_RECURSE
  "CMakeFiles/agesweep_fake.dir/platform/fake_platform.cc.o"
  "CMakeFiles/agesweep_fake.dir/platform/fake_platform.cc.o.d"
  "libagesweep_fake.a"
  "libagesweep_fake.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep_fake.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
