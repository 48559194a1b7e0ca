# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# so that std::thread and std::mutex are available). Everything is linked
# statically: the programs need no mingw runtime DLLs next to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELLAMO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELLAMO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELLAMO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PELLAMO_MINGW_TRIPLE}-windres)

# Windows 7 is the oldest system the program supports.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries and headers come from the mingw sysroot and from the folders
# named in CMAKE_FIND_ROOT_PATH (the cached libcurl build), never from the
# host's system folders; programs (windres, code generators) from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${PELLAMO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
