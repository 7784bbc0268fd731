# Native pass: the media engine's core and its tests, fixtures, FFmpeg for
# Windows (from the cache), then the Windows pass.
#
# KESTREL_SANITIZE builds the engine and its tests alone (no Windows pass) with AddressSanitizer, UndefinedBehaviorSanitizer and the
# standard library's assertions; KESTREL_FUZZ (clang) adds the libFuzzer
# targets; KESTREL_SANITIZE_THREAD builds them alone with ThreadSanitizer
# instead. KESTREL_FIXTURES_DIR may name another tree's fixtures.
include(ExternalProject)
option(KESTREL_SANITIZE "Engine and its tests only, with ASan, UBSan and libstdc++ assertions" OFF)
option(KESTREL_FUZZ "The engine's libFuzzer targets (clang; implies KESTREL_SANITIZE)" OFF)
option(KESTREL_SANITIZE_THREAD "Engine and its tests only, with ThreadSanitizer" OFF)
if(KESTREL_FUZZ)
  set(KESTREL_SANITIZE ON)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTREL_FUZZ needs clang (CXX=clang++)")
  endif()
endif()
if(KESTREL_SANITIZE_THREAD)
  if(KESTREL_SANITIZE)
    message(FATAL_ERROR "KESTREL_SANITIZE_THREAD excludes KESTREL_SANITIZE and KESTREL_FUZZ")
  endif()
  set(KESTREL_ENGINE_ONLY ON)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(KESTREL_SANITIZE)
  set(KESTREL_ENGINE_ONLY ON)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
                      -D_GLIBCXX_ASSERTIONS)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KESTREL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
find_package(PkgConfig REQUIRED)
find_package(GTest REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libswscale libswresample libavutil libavfilter)

set(KESTREL_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(KESTREL_FIXTURES_DIR ${CMAKE_BINARY_DIR}/fixtures CACHE PATH "Where the fixtures are generated")
set(KESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(KESTREL_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${KESTREL_BIN_DIR})
# The engine was once a Wine builtin: such a tree's leftover would shadow
# the native DLL.
file(REMOVE ${KESTREL_BIN_DIR}/kestrelmedia.dll.so)

add_subdirectory(platform/media)

# Fixtures generated with the ffmpeg command-line tool.
file(GLOB KESTREL_FIXTURE_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/scripts/fixtures/*.sh)
add_custom_command(
  OUTPUT ${KESTREL_FIXTURES_DIR}/.stamp
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-fixtures.sh ${KESTREL_FIXTURES_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${KESTREL_FIXTURES_DIR}/.stamp
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-fixtures.sh ${KESTREL_FIXTURE_SCRIPTS}
  COMMENT "Generating media fixtures")
add_custom_target(fixtures ALL DEPENDS ${KESTREL_FIXTURES_DIR}/.stamp)
if(KESTREL_ENGINE_ONLY)
  return()
endif()

# FFmpeg for Windows, built once into a cache outside the tree and reused
# while its sources, components and build script stay the same.
set(KESTREL_FFMPEG_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/windows-ffmpeg.sh)
file(GLOB_RECURSE KESTREL_GLIBC_LIBM_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/media/windows/glibc-libm/*)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KESTREL_FFMPEG_SCRIPT}
                                                               ${CMAKE_SOURCE_DIR}/platform/media/windows/ffmpeg-components.txt
                                                               ${KESTREL_GLIBC_LIBM_FILES})
# KESTREL_FFMPEG_PREFIX may name a build of one's own instead.
if(KESTREL_FFMPEG_PREFIX)
  set(KESTREL_WINDOWS_FFMPEG ${KESTREL_FFMPEG_PREFIX})
  add_custom_target(windows-ffmpeg)
else()
  execute_process(COMMAND ${KESTREL_FFMPEG_SCRIPT} prefix x86_64 OUTPUT_VARIABLE KESTREL_WINDOWS_FFMPEG
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  add_custom_target(windows-ffmpeg
    COMMAND ${KESTREL_FFMPEG_SCRIPT} build x86_64
    COMMENT "FFmpeg for Windows (built once into the cache)"
    USES_TERMINAL)
endif()

option(KESTREL_I686 "Also build the 32-bit kestrel.ax and kestrelmedia.dll (checked, not run)" OFF)
if(KESTREL_I686)
  execute_process(COMMAND ${KESTREL_FFMPEG_SCRIPT} prefix i686 OUTPUT_VARIABLE KESTREL_WINDOWS_FFMPEG_I686
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  add_custom_target(windows-ffmpeg-i686
    COMMAND ${KESTREL_FFMPEG_SCRIPT} build i686
    COMMENT "FFmpeg for 32-bit Windows (built once into the cache)"
    USES_TERMINAL)
  ExternalProject_Add(kestrel-windows-i686
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows-i686
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DKESTREL_BIN_DIR=${CMAKE_BINARY_DIR}/bin-i686
      -DKESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR}
      -DKESTREL_FFMPEG_PREFIX=${KESTREL_WINDOWS_FFMPEG_I686}
      -DKESTREL_MODULES_ONLY=ON
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS windows-ffmpeg-i686)
  add_test(NAME windows_binaries_i686
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-windows-binaries.sh ${CMAKE_BINARY_DIR}/bin-i686 i686)
endif()

ExternalProject_Add(kestrel-windows
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/windows
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DKESTREL_BIN_DIR=${KESTREL_BIN_DIR}
    -DKESTREL_FIXTURES_DIR=${KESTREL_FIXTURES_DIR}
    -DKESTREL_WINEPREFIX=${KESTREL_WINEPREFIX}
    -DKESTREL_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    -DKESTREL_FFMPEG_PREFIX=${KESTREL_WINDOWS_FFMPEG}
    -DKESTREL_DIST_DIR=${KESTREL_DIST_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KESTREL_BIN_DIR}/kestrel.ax ${KESTREL_BIN_DIR}/kestrelmedia.dll
                   ${KESTREL_BIN_DIR}/kestrel-setup-actions.dll
  DEPENDS windows-ffmpeg fixtures)

# The installer package, dist/kestrel-VERSION-x64.msi (packaging/), made
# again whenever a module or the package's source changes.
set(KESTREL_MSI ${KESTREL_DIST_DIR}/kestrel-${PROJECT_VERSION}-x64.msi)
add_custom_command(
  OUTPUT ${KESTREL_MSI}
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/make-msi.sh ${KESTREL_BIN_DIR} ${KESTREL_DIST_DIR}
  DEPENDS ${KESTREL_BIN_DIR}/kestrel.ax ${KESTREL_BIN_DIR}/kestrelmedia.dll ${KESTREL_BIN_DIR}/kestrel-setup-actions.dll
          ${CMAKE_SOURCE_DIR}/packaging/kestrel.wxs
          ${CMAKE_SOURCE_DIR}/packaging/make-msi.sh ${CMAKE_SOURCE_DIR}/packaging/pe_version.py
  COMMENT "Installer package ${KESTREL_MSI}")
add_custom_target(msi ALL DEPENDS ${KESTREL_MSI})
add_dependencies(msi kestrel-windows)

# The shipped DLLs, checked without running them: format, imports, exports.
add_test(NAME windows_binaries COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-windows-binaries.sh ${KESTREL_BIN_DIR} x86_64)

# glibc's libm built for Windows (scripts/windows-ffmpeg.sh) returns the
# bits the system's returns: libm_compare natively and, from the Windows
# pass, under Wine.
add_executable(libm_compare platform/media/windows/glibc-libm/test/libm_compare.c)
target_compile_options(libm_compare PRIVATE -fno-builtin)
target_link_libraries(libm_compare PRIVATE m)
find_program(WINE64 wine64 PATHS /usr/lib/wine REQUIRED)
add_test(NAME glibc_libm
  COMMAND ${CMAKE_SOURCE_DIR}/platform/media/windows/glibc-libm/test/libm-compare.sh $<TARGET_FILE:libm_compare>
          ${KESTREL_BIN_DIR}/libm_compare.exe ${WINE64})
set_tests_properties(glibc_libm PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "WINEPREFIX=${KESTREL_WINEPREFIX}"
                                           TIMEOUT 1800)

# The Wine prefix is booted once and a persistent wineserver runs while the
# tests do; the cleanup stops that prefix's server only.
add_test(NAME wine-prefix-up COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh up ${KESTREL_WINEPREFIX} ${KESTREL_BIN_DIR})
add_test(NAME wine-prefix-down COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh down ${KESTREL_WINEPREFIX})
set_tests_properties(wine-prefix-up PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine-prefix-down PROPERTIES FIXTURES_CLEANUP wine)

# The Windows pass registers its own tests; CTest walks into its tree.
file(WRITE ${CMAKE_BINARY_DIR}/windows-tests.cmake "subdirs(\"${CMAKE_BINARY_DIR}/windows\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/windows-tests.cmake)
