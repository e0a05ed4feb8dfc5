# Text shown to the user is Japanese in Shift_JIS (code page 932), as the ANSI
# Windows functions show it. The sources holding it stay readable UTF-8 and are
# named *_text.cpp; they alone are compiled to code page 932.
file(GLOB SJIS_TEXT_SOURCES CONFIGURE_DEPENDS
  shell/*_text.cpp shell/win32/*_text.cpp settings/*_text.cpp)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # Clang compiles to no code page but UTF-8. Its one build, the fuzz
  # targets', has the core without these texts: none of them shows one.
  list(REMOVE_ITEM CORE_SOURCES ${SJIS_TEXT_SOURCES})
else()
  set_source_files_properties(${SJIS_TEXT_SOURCES} PROPERTIES COMPILE_OPTIONS -fexec-charset=CP932)
endif()

# And no Japanese narrow string anywhere else: it would reach the ANSI
# functions as UTF-8 and show as mojibake. Checked before anything compiles.
add_custom_target(source_charsets
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-charsets
          ${CMAKE_CURRENT_SOURCE_DIR} ${SJIS_TEXT_SOURCES}
  COMMENT "Checking that Japanese narrow strings are compiled to code page 932")
