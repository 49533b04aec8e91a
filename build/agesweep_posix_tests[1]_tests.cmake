set(  agesweep_posix_tests_TESTS)
