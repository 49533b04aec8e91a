file(REMOVE_RECURSE
  "CMakeFiles/agesweep_posix.dir/platform/posix/posix_listing.cc.o"
  "CMakeFiles/agesweep_posix.dir/platform/posix/posix_listing.cc.o.d"
  "CMakeFiles/agesweep_posix.dir/platform/posix/posix_platform.cc.o"
  "CMakeFiles/agesweep_posix.dir/platform/posix/posix_platform.cc.o.d"
  "libagesweep_posix.a"
  "libagesweep_posix.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep_posix.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
