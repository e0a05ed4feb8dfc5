# Empty dependencies file for native_tests.
# This may be replaced when dependencies are built.
