# Empty dependencies file for tarvokey_core.
# This may be replaced when dependencies are built.
