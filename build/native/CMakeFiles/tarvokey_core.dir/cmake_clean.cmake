file(REMOVE_RECURSE
  "CMakeFiles/tarvokey_core.dir/hidlink/device_link.cpp.o"
  "CMakeFiles/tarvokey_core.dir/hidlink/device_link.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/keying/bit_clock.cpp.o"
  "CMakeFiles/tarvokey_core.dir/keying/bit_clock.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/keying/line_byte.cpp.o"
  "CMakeFiles/tarvokey_core.dir/keying/line_byte.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_core.cpp.o"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_core.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_hid.cpp.o"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_hid.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_prompt.cpp.o"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_prompt.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_version.cpp.o"
  "CMakeFiles/tarvokey_core.dir/platform/sim/sim_version.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/settings/settings.cpp.o"
  "CMakeFiles/tarvokey_core.dir/settings/settings.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/shell/exports.cpp.o"
  "CMakeFiles/tarvokey_core.dir/shell/exports.cpp.o.d"
  "CMakeFiles/tarvokey_core.dir/shell/fsk_keyer.cpp.o"
  "CMakeFiles/tarvokey_core.dir/shell/fsk_keyer.cpp.o.d"
  "libtarvokey_core.a"
  "libtarvokey_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/tarvokey_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
