# Empty dependencies file for agesweep_posix_tests.
# This may be replaced when dependencies are built.
