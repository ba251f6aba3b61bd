# Hardening of the POSIX builds, as Debian gives every package it builds: position-independent
# executables always, and in the optimised builds the flags of dpkg-buildflags with all its
# hardening features on (where it is missing, the same set spelled out): _FORTIFY_SOURCE=2, the
# strong stack protector, format-string checks, and a read-only relocation table bound at start.
# The build type keeps its own optimisation and debug levels. Windows builds and sanitizer builds
# are left out: _FORTIFY_SOURCE needs optimisation, and the sanitizers check the same ground.
if(WIN32 OR MSVC)
  return()
endif()

# Every object is compiled for a position-independent executable, the static library's too
# (CMake's POSITION_INDEPENDENT_CODE would build that one for a shared object, with calls that
# cannot be inlined), and every executable linked as one.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  add_compile_options(${CMAKE_CXX_COMPILE_OPTIONS_PIE})
  add_link_options(${CMAKE_CXX_LINK_OPTIONS_PIE})
endif()

if(MKANI_SANITIZE)
  return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    # Run in the source folder, whose path -ffile-prefix-map then takes out of the binary.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${DPKG_BUILDFLAGS} --get ${kind}
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-[Og]")
    set(hardening_${kind} ${flags})
  endforeach()
else()
  set(hardening_CPPFLAGS -D_FORTIFY_SOURCE=2)
  set(hardening_CXXFLAGS -fstack-protector-strong -Wformat -Werror=format-security)
  set(hardening_LDFLAGS -Wl,-z,relro -Wl,-z,now)
  if(APPLE)
    set(hardening_LDFLAGS "")  # Mach-O has no relocation table to make read-only
  endif()
endif()
string(JOIN " " shown ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} ${hardening_LDFLAGS})
message(STATUS "Hardening of the optimised builds: ${shown}")

set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
add_compile_options("$<${optimised}:${hardening_CPPFLAGS};${hardening_CXXFLAGS}>")
add_link_options("$<${optimised}:${hardening_LDFLAGS}>")
