file(REMOVE_RECURSE
  "CMakeFiles/agesweep_core.dir/platform/civil_time.cc.o"
  "CMakeFiles/agesweep_core.dir/platform/civil_time.cc.o.d"
  "CMakeFiles/agesweep_core.dir/run/command_line.cc.o"
  "CMakeFiles/agesweep_core.dir/run/command_line.cc.o.d"
  "CMakeFiles/agesweep_core.dir/run/run.cc.o"
  "CMakeFiles/agesweep_core.dir/run/run.cc.o.d"
  "CMakeFiles/agesweep_core.dir/run/run_log.cc.o"
  "CMakeFiles/agesweep_core.dir/run/run_log.cc.o.d"
  "CMakeFiles/agesweep_core.dir/run/totals.cc.o"
  "CMakeFiles/agesweep_core.dir/run/totals.cc.o.d"
  "CMakeFiles/agesweep_core.dir/sweep/intervals.cc.o"
  "CMakeFiles/agesweep_core.dir/sweep/intervals.cc.o.d"
  "CMakeFiles/agesweep_core.dir/sweep/sweep.cc.o"
  "CMakeFiles/agesweep_core.dir/sweep/sweep.cc.o.d"
  "CMakeFiles/agesweep_core.dir/sweep/wildcard.cc.o"
  "CMakeFiles/agesweep_core.dir/sweep/wildcard.cc.o.d"
  "CMakeFiles/agesweep_core.dir/ui/window.cc.o"
  "CMakeFiles/agesweep_core.dir/ui/window.cc.o.d"
  "libagesweep_core.a"
  "libagesweep_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/agesweep_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
