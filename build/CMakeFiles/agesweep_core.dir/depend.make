# Empty dependencies file for agesweep_core.
# This may be replaced when dependencies are built.
