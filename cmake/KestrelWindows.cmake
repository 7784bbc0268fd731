# Windows pass (mingw-w64): kestrelmedia.dll, kestrel.ax, the system
# library, tests and tools. Run by the native pass with KESTREL_BIN_DIR,
# KESTREL_FIXTURES_DIR, KESTREL_WINEPREFIX and KESTREL_FFMPEG_PREFIX set.
# KESTREL_MODULES_ONLY builds the two DLLs alone (the 32-bit pass: this
# machine runs no 32-bit code, so nothing else of it could run).
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${KESTREL_BIN_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${KESTREL_BIN_DIR})
set(KESTREL_TOOL_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # SSE2 float math, as FFmpeg's 32-bit build is configured.
  add_compile_options(-msse2 -mfpmath=sse)
endif()
add_link_options(-static -static-libgcc -static-libstdc++)
enable_language(RC)

# A version resource with the project's version in a module.
function(kestrel_version_resource target file_name description)
  set(KESTREL_FILE_NAME ${file_name})
  set(KESTREL_FILE_DESCRIPTION ${description})
  string(REPLACE "." "," KESTREL_VERSION_COMMAS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  configure_file(${KESTREL_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()

# The engine's interface is below every layer; each layer of src/ adds its
# own include root (src/CMakeLists.txt).
include_directories(${KESTREL_SOURCE_DIR}/platform/media/include)
if(KESTREL_MODULES_ONLY)
  add_subdirectory(platform/media)
  add_subdirectory(src)
  return()
endif()

find_program(WINE64 wine64 PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64})

# GoogleTest from Debian's sources, built with this toolchain.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# A GoogleTest program run under Wine by CTest, one test per program. GUI:
# it makes windows, and runs on an X server of its own with the prefix kept
# for such programs (scripts/wine-gui.sh).
function(kestrel_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock kestrel_testsupport)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  set(environment "WINEDEBUG=-all;KESTREL_FIXTURES=${KESTREL_FIXTURES_DIR};KESTREL_BIN=${KESTREL_BIN_DIR}")
  if(T_GUI)
    add_test(NAME ${name}
      COMMAND ${KESTREL_SOURCE_DIR}/scripts/wine-gui.sh ${KESTREL_WINEPREFIX}-gui $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}")
  else()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine
      TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "WINEPREFIX=${KESTREL_WINEPREFIX};${environment}")
  endif()
endfunction()

add_subdirectory(platform/media)
add_subdirectory(src)
add_subdirectory(tests)
add_subdirectory(tools)
add_subdirectory(packaging)
