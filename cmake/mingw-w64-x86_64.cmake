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

# Headers and libraries only from the MinGW sysroot (and prefixes added to the find root, as
# qt-cmake adds the Windows Qt): the host's /usr/include would otherwise be taken for zlib, Vulkan
# and others. Programs come from the host; packages from both, so CMAKE_PREFIX_PATH finds the
# Windows Qt and QT_HOST_PATH the host's tools.
set(CMAKE_FIND_ROOT_PATH /usr/${OE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
