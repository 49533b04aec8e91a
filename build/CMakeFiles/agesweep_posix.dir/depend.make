# Empty dependencies file for agesweep_posix.
# This may be replaced when dependencies are built.
