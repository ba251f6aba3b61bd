# Cross build of mkani.exe alone for 32-bit x86 Windows from XP SP3 on: the win32 thread model
# links no winpthreads, whose imports (GetTickCount64) XP's KERNEL32 lacks.
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_THREADS win32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
