
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/platform/civil_time_test.cc" "CMakeFiles/agesweep_tests.dir/platform/civil_time_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/platform/civil_time_test.cc.o.d"
  "/work/main/run/command_line_test.cc" "CMakeFiles/agesweep_tests.dir/run/command_line_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/run/command_line_test.cc.o.d"
  "/work/main/run/run_test.cc" "CMakeFiles/agesweep_tests.dir/run/run_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/run/run_test.cc.o.d"
  "/work/main/run/totals_test.cc" "CMakeFiles/agesweep_tests.dir/run/totals_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/run/totals_test.cc.o.d"
  "/work/main/sweep/intervals_test.cc" "CMakeFiles/agesweep_tests.dir/sweep/intervals_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/sweep/intervals_test.cc.o.d"
  "/work/main/sweep/sweep_test.cc" "CMakeFiles/agesweep_tests.dir/sweep/sweep_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/sweep/sweep_test.cc.o.d"
  "/work/main/sweep/wildcard_test.cc" "CMakeFiles/agesweep_tests.dir/sweep/wildcard_test.cc.o" "gcc" "CMakeFiles/agesweep_tests.dir/sweep/wildcard_test.cc.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/CMakeFiles/agesweep_fake.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/agesweep_core.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
