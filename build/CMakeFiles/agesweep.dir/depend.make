# Empty dependencies file for agesweep.
# This may be replaced when dependencies are built.
