file(REMOVE_RECURSE
  "CMakeFiles/native_tests.dir/concurrency_test.cpp.o"
  "CMakeFiles/native_tests.dir/concurrency_test.cpp.o.d"
  "CMakeFiles/native_tests.dir/keying_test.cpp.o"
  "CMakeFiles/native_tests.dir/keying_test.cpp.o.d"
  "native_tests"
  "native_tests.pdb"
  "native_tests[1]_tests.cmake"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/native_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
