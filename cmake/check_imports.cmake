# Fails unless the Windows executable EXE imports only functions on the list below: the ones that
# KERNEL32.dll and msvcrt.dll of Windows XP SP3 export and mkani needs, its runtime included.
set(allowed
  KERNEL32.dll:CloseHandle KERNEL32.dll:CreateFileW KERNEL32.dll:CreateSemaphoreW
  KERNEL32.dll:DeleteCriticalSection KERNEL32.dll:DeleteFileW KERNEL32.dll:EnterCriticalSection
  KERNEL32.dll:ExitProcess KERNEL32.dll:FindClose KERNEL32.dll:FindFirstFileW
  KERNEL32.dll:FindNextFileW KERNEL32.dll:FormatMessageA KERNEL32.dll:FormatMessageW
  KERNEL32.dll:FreeLibrary KERNEL32.dll:GetACP KERNEL32.dll:GetConsoleMode
  KERNEL32.dll:GetCurrentProcessId KERNEL32.dll:GetCurrentThreadId KERNEL32.dll:GetDiskFreeSpaceExW
  KERNEL32.dll:GetFileAttributesW KERNEL32.dll:GetFileInformationByHandle
  KERNEL32.dll:GetFileSizeEx KERNEL32.dll:GetFileType KERNEL32.dll:GetFullPathNameW
  KERNEL32.dll:GetLastError KERNEL32.dll:GetModuleHandleA KERNEL32.dll:GetModuleHandleW
  KERNEL32.dll:GetProcAddress KERNEL32.dll:GetStartupInfoA KERNEL32.dll:GetStdHandle
  KERNEL32.dll:InitializeCriticalSection KERNEL32.dll:IsDBCSLeadByteEx
  KERNEL32.dll:LeaveCriticalSection KERNEL32.dll:LoadLibraryA KERNEL32.dll:LoadLibraryW
  KERNEL32.dll:LockFileEx KERNEL32.dll:MoveFileExW KERNEL32.dll:MultiByteToWideChar
  KERNEL32.dll:ReadFile KERNEL32.dll:ReleaseSemaphore KERNEL32.dll:ReplaceFileW
  KERNEL32.dll:SetConsoleCtrlHandler KERNEL32.dll:SetEndOfFile KERNEL32.dll:SetFileAttributesW
  KERNEL32.dll:SetFilePointerEx KERNEL32.dll:SetLastError KERNEL32.dll:SetUnhandledExceptionFilter
  KERNEL32.dll:Sleep KERNEL32.dll:TlsAlloc KERNEL32.dll:TlsFree KERNEL32.dll:TlsGetValue
  KERNEL32.dll:TlsSetValue KERNEL32.dll:VirtualProtect KERNEL32.dll:VirtualQuery
  KERNEL32.dll:WaitForSingleObject KERNEL32.dll:WideCharToMultiByte KERNEL32.dll:WriteConsoleW
  KERNEL32.dll:WriteFile msvcrt.dll:__getmainargs msvcrt.dll:__initenv msvcrt.dll:__mb_cur_max
  msvcrt.dll:__p__acmdln msvcrt.dll:__p__commode msvcrt.dll:__p__fmode msvcrt.dll:__set_app_type
  msvcrt.dll:__setusermatherr msvcrt.dll:_amsg_exit msvcrt.dll:_cexit msvcrt.dll:_close
  msvcrt.dll:_errno msvcrt.dll:_initterm msvcrt.dll:_iob msvcrt.dll:_onexit msvcrt.dll:_read
  msvcrt.dll:abort msvcrt.dll:atoi msvcrt.dll:calloc msvcrt.dll:exit msvcrt.dll:fprintf
  msvcrt.dll:fputc msvcrt.dll:fputs msvcrt.dll:free msvcrt.dll:fwrite msvcrt.dll:localeconv
  msvcrt.dll:malloc msvcrt.dll:memchr msvcrt.dll:memcmp msvcrt.dll:memcpy msvcrt.dll:memmove
  msvcrt.dll:memset msvcrt.dll:realloc msvcrt.dll:setlocale msvcrt.dll:signal msvcrt.dll:strchr
  msvcrt.dll:strcmp msvcrt.dll:strerror msvcrt.dll:strlen msvcrt.dll:strncmp msvcrt.dll:vfprintf
  msvcrt.dll:wcslen)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REGEX REPLACE "\r?\n" ";" lines "${dump}")
set(dll "")
set(imports "")
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.+)$")
    set(dll "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^$")
    set(dll "")
  elseif(dll AND line MATCHES "^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_0-9@]+)")
    list(APPEND imports "${dll}:${CMAKE_MATCH_1}")
  endif()
endforeach()
list(LENGTH imports count)
if(count EQUAL 0)
  message(FATAL_ERROR "found no imports in ${EXE}")
endif()
set(extra ${imports})
list(REMOVE_ITEM extra ${allowed})
if(extra)
  message(FATAL_ERROR "${EXE} imports what is not on the list: ${extra}")
endif()
message(STATUS "${count} imports, every one on the list")
