# Cross build for 64-bit x86 Windows with MinGW-w64; tests run under wine64 itself. Debian's
# `wine` picks the 32-bit loader whenever that file is there, even on a kernel that cannot run
# 32-bit programs, so the 64-bit loader is named directly. Its prefix lives in the build folder:
# one made by the 32-bit loader does not serve wine64, and nothing goes to ~/.wine.
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x64)
find_program(MINGW_WINE64 wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(MINGW_WINE64 wine64)
if(MINGW_WINE64)
  set(MINGW_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine64 WINEDEBUG=-all
                     WINEDLLOVERRIDES=winemenubuilder.exe=d ${MINGW_WINE64})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
