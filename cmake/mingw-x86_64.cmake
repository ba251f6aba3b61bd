# Cross build for 64-bit x86 Windows with MinGW-w64; tests run under wine.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
