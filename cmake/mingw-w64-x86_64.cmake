# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread needs with GCC 12). Programs link libgcc, libstdc++ and winpthread statically so
# that they run on a bare Windows, or under Wine, with no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZTA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZTA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZTA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZTA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZTA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the programs here; ctest and test discovery use it when it is there.
find_program(ZTA_WINE wine)
if(ZTA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZTA_WINE})
endif()
