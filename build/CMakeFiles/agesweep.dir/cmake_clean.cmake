file(REMOVE_RECURSE
  "CMakeFiles/agesweep.dir/platform/posix/main_posix.cc.o"
  "CMakeFiles/agesweep.dir/platform/posix/main_posix.cc.o.d"
  "agesweep"
  "agesweep.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
