
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/platform/civil_time.cc" "CMakeFiles/agesweep_core.dir/platform/civil_time.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/platform/civil_time.cc.o.d"
  "/work/main/run/command_line.cc" "CMakeFiles/agesweep_core.dir/run/command_line.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/run/command_line.cc.o.d"
  "/work/main/run/run.cc" "CMakeFiles/agesweep_core.dir/run/run.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/run/run.cc.o.d"
  "/work/main/run/run_log.cc" "CMakeFiles/agesweep_core.dir/run/run_log.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/run/run_log.cc.o.d"
  "/work/main/run/totals.cc" "CMakeFiles/agesweep_core.dir/run/totals.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/run/totals.cc.o.d"
  "/work/main/sweep/intervals.cc" "CMakeFiles/agesweep_core.dir/sweep/intervals.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/sweep/intervals.cc.o.d"
  "/work/main/sweep/sweep.cc" "CMakeFiles/agesweep_core.dir/sweep/sweep.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/sweep/sweep.cc.o.d"
  "/work/main/sweep/wildcard.cc" "CMakeFiles/agesweep_core.dir/sweep/wildcard.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/sweep/wildcard.cc.o.d"
  "/work/main/ui/window.cc" "CMakeFiles/agesweep_core.dir/ui/window.cc.o" "gcc" "CMakeFiles/agesweep_core.dir/ui/window.cc.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
