# Cross-compiling for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64), POSIX thread
# model so that std::thread and std::mutex work. The Linux build uses it for the Windows test
# programs. For the whole program, also give CMAKE_PREFIX_PATH a Qt 6 built for Windows,
# QT_HOST_PATH this machine's Qt (its moc, rcc and qmlcachegen) and PKG_CONFIG_LIBDIR the
# pkgconfig folder of an RtMidi built for Windows (see "Building on Windows" in README.md).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVIK_MINGW_TRIPLE}-windres)

# Plain libraries and headers come from the Windows side only, programs from this machine;
# packages (Qt) from wherever CMAKE_PREFIX_PATH says.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TOVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
