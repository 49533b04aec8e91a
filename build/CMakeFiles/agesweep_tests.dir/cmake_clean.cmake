file(REMOVE_RECURSE
  "CMakeFiles/agesweep_tests.dir/platform/civil_time_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/platform/civil_time_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/run/command_line_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/run/command_line_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/run/run_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/run/run_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/run/totals_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/run/totals_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/sweep/intervals_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/sweep/intervals_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/sweep/sweep_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/sweep/sweep_test.cc.o.d"
  "CMakeFiles/agesweep_tests.dir/sweep/wildcard_test.cc.o"
  "CMakeFiles/agesweep_tests.dir/sweep/wildcard_test.cc.o.d"
  "agesweep_tests"
  "agesweep_tests.pdb"
  "agesweep_tests[1]_tests.cmake"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
