# Empty dependencies file for agesweep_fake.
# This may be replaced when dependencies are built.
