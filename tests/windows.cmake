# The unit tests as a Windows executable, run under Wine. GoogleTest is built from the source
# Debian ships with libgtest-dev. Left out, with the reason:
# - conformance tests against the reference decoders (libpng, libjpeg, libtiff, giflib,
#   zlib): those libraries are not built for Windows here, and the files they compare are
#   made by Linux tools (ImageMagick, cjpeg, tiffcp, gifsicle) the tests run;
# - tests that run the Linux program or fork (the command line, screenshots, the ECW
#   stand-in library); the Windows program's command line is checked by tools/wine_test.sh;
# - the soak, whose tree holds FIFOs, links and folders a user without rights cannot enter;
# - the SDL backend's tests.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(WINDOWS_TEST_SOURCES
  core/errors_test.cpp core/group_test.cpp core/registry_test.cpp
  io/byte_reader_test.cpp io/text_test.cpp
  image/identify_test.cpp image/image_test.cpp
  codecs/tiff/tiff_g4_test.cpp
  display/zone_test.cpp display/redraw_test.cpp
  platform/frame_test.cpp platform/headless_test.cpp platform/message_queue_test.cpp
  viewer/file_list_test.cpp viewer/viewer_test.cpp viewer/zoom_test.cpp
  viewer/viewer_harness.cpp support/test_support.cpp)
list(TRANSFORM WINDOWS_TEST_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_executable(korvela_tests ${WINDOWS_TEST_SOURCES})
target_include_directories(korvela_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(korvela_tests PRIVATE -include ${CMAKE_CURRENT_SOURCE_DIR}/support/windows_compat.h)
target_compile_definitions(korvela_tests PRIVATE
  KORVELA_CORPUS_DIR="${KORVELA_CORPUS_DIR}"
  KORVELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(korvela_tests PRIVATE korvela_lib gtest gtest_main)

# The ECW stand-in as the vendor's NCSEcw.dll, exporting its five calls by ordinal only; the
# program finds it on the PATH (tools/wine_test.sh).
add_library(ncs_ecw_standin SHARED codecs/ecw/ncs_ecw_standin.c codecs/ecw/ncs_ecw_standin.def)
set_target_properties(ncs_ecw_standin PROPERTIES OUTPUT_NAME NCSEcw PREFIX "")
add_dependencies(korvela_tests ncs_ecw_standin)
