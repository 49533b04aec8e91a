file(REMOVE_RECURSE
  "CMakeFiles/agesweep_posix_tests.dir/platform/posix/posix_platform_test.cc.o"
  "CMakeFiles/agesweep_posix_tests.dir/platform/posix/posix_platform_test.cc.o.d"
  "CMakeFiles/agesweep_posix_tests.dir/tests/e2e_test.cc.o"
  "CMakeFiles/agesweep_posix_tests.dir/tests/e2e_test.cc.o.d"
  "agesweep_posix_tests"
  "agesweep_posix_tests.pdb"
  "agesweep_posix_tests[1]_tests.cmake"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep_posix_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
