# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, posix thread model (Qt 6 needs
# std::thread and friends, which the win32 model lacks).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${OE_MINGW_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${OE_MINGW_TRIPLE}-gcc-ranlib-posix)

# Libraries and headers come from the MinGW sysroot and from whatever prefix the caller adds (the
# Windows Qt); programs always from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${OE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
