# Cross toolchain: 32-bit Windows, MinGW-w64 (posix threads). Built only, never run:
# it proves the 32-bit record layouts.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(Q32_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${Q32_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${Q32_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${Q32_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${Q32_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
