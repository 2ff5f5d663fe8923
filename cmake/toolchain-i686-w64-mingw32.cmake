# Cross-builds the Windows program with MinGW-w64 for 32-bit x86, the
# architecture the manifest names:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(QV_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model, which std::thread in the tests needs; the win32
# model of the same compiler has none.
find_program(CMAKE_C_COMPILER NAMES ${QV_MINGW_PREFIX}-gcc-posix ${QV_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QV_MINGW_PREFIX}-g++-posix ${QV_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QV_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that run under Wine on the build host.
find_program(QV_WINE NAMES wine)
if(QV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QV_WINE})
endif()
