
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/hidlink/device_link.cpp" "CMakeFiles/tarvokey_core.dir/hidlink/device_link.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/hidlink/device_link.cpp.o.d"
  "/work/main/keying/bit_clock.cpp" "CMakeFiles/tarvokey_core.dir/keying/bit_clock.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/keying/bit_clock.cpp.o.d"
  "/work/main/keying/line_byte.cpp" "CMakeFiles/tarvokey_core.dir/keying/line_byte.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/keying/line_byte.cpp.o.d"
  "/work/main/platform/sim/sim_core.cpp" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_core.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_core.cpp.o.d"
  "/work/main/platform/sim/sim_hid.cpp" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_hid.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_hid.cpp.o.d"
  "/work/main/platform/sim/sim_prompt.cpp" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_prompt.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_prompt.cpp.o.d"
  "/work/main/platform/sim/sim_version.cpp" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_version.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/platform/sim/sim_version.cpp.o.d"
  "/work/main/settings/settings.cpp" "CMakeFiles/tarvokey_core.dir/settings/settings.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/settings/settings.cpp.o.d"
  "/work/main/shell/exports.cpp" "CMakeFiles/tarvokey_core.dir/shell/exports.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/shell/exports.cpp.o.d"
  "/work/main/shell/fsk_keyer.cpp" "CMakeFiles/tarvokey_core.dir/shell/fsk_keyer.cpp.o" "gcc" "CMakeFiles/tarvokey_core.dir/shell/fsk_keyer.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
