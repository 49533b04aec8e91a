# Empty dependencies file for agesweep_tests.
# This may be replaced when dependencies are built.
