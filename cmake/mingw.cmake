# The part of the MinGW-w64 toolchain files that does not depend on the target: MINGW_TRIPLET
# names it.
set(CMAKE_SYSTEM_NAME Windows)
# MINGW_THREADS is the C++ runtime's thread model: posix, which GoogleTest needs for std::mutex
# (the win32 model lacks it in GCC 12), unless the including file says win32.
if(NOT MINGW_THREADS)
  set(MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-${MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-${MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${MINGW_TRIPLET}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# MINGW_EMULATOR runs the built programs here: wine, unless the including file names another.
if(NOT MINGW_EMULATOR)
  set(MINGW_EMULATOR wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_EMULATOR})
