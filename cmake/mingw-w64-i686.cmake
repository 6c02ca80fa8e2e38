# Cross build of the 32-bit Windows program with Debian's mingw-w64 (g++-mingw-w64-i686).
# The POSIX-threads flavour of the compiler gives the full C++ standard library; the runtime
# is linked in statically, so korvela.exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KORVELA_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVELA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVELA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVELA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVELA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc")
# Tests run the Windows executables through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
