# kestrelmedia.dll: the engine's core as a Windows DLL, with FFmpeg, dav1d,
# zlib and the C and C++ runtimes linked in, so that it imports Windows'
# own DLLs only. KESTREL_FFMPEG_PREFIX is FFmpeg's build for this
# architecture (scripts/windows-ffmpeg.sh prefix ARCH).
if(NOT EXISTS ${KESTREL_FFMPEG_PREFIX}/lib/pkgconfig/libavcodec.pc)
  message(FATAL_ERROR "No FFmpeg for Windows in '${KESTREL_FFMPEG_PREFIX}' (scripts/windows-ffmpeg.sh build)")
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${KESTREL_FFMPEG_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
find_package(PkgConfig REQUIRED)
pkg_check_modules(WINDOWS_FFMPEG REQUIRED libavformat libavcodec libswscale libswresample libavutil)

add_library(kestrelmedia SHARED ${QTM_CORE_SOURCES})
set_target_properties(kestrelmedia PROPERTIES PREFIX "" OUTPUT_NAME kestrelmedia)
kestrel_version_resource(kestrelmedia kestrelmedia.dll "Kestrel media engine")
target_include_directories(kestrelmedia PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../include ${CMAKE_CURRENT_LIST_DIR}/../src
                                                ${WINDOWS_FFMPEG_STATIC_INCLUDE_DIRS})
target_link_directories(kestrelmedia PRIVATE ${WINDOWS_FFMPEG_STATIC_LIBRARY_DIRS})
# glibc's libm functions after FFmpeg and before the C runtime, which the
# compiler adds last: FFmpeg and the engine get what they get on Linux.
set(KESTREL_GLIBC_LIBM ${KESTREL_FFMPEG_PREFIX}/lib/libglibcm.a)
if(NOT EXISTS ${KESTREL_GLIBC_LIBM})
  message(FATAL_ERROR "No glibc libm in '${KESTREL_FFMPEG_PREFIX}' (scripts/windows-ffmpeg.sh build)")
endif()
target_link_libraries(kestrelmedia PRIVATE ${WINDOWS_FFMPEG_STATIC_LIBRARIES} ${KESTREL_GLIBC_LIBM})
# Only what the engine marks for export leaves the DLL.
target_link_options(kestrelmedia PRIVATE -Wl,--exclude-all-symbols)

# The libm's comparison with the system's glibc: this program under Wine
# against its native build (the native pass's glibc_libm test).
add_executable(libm_compare ${CMAKE_CURRENT_LIST_DIR}/glibc-libm/test/libm_compare.c)
target_include_directories(libm_compare PRIVATE ${CMAKE_CURRENT_LIST_DIR}/glibc-libm)
target_compile_options(libm_compare PRIVATE -fno-builtin)
target_link_libraries(libm_compare PRIVATE ${KESTREL_GLIBC_LIBM})
