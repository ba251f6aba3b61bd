# Run by the install: keeps in RECORD what an install onto this system put there, for the
# uninstall target (cmake/uninstall.cmake). STEP "begin", before the first file is installed,
# notes which of the folders DIRS (and of their parents) do not exist yet; STEP "end", after the
# last, adds the files installed and the folders created to RECORD, one "file PATH" or "dir PATH"
# line each, keeping what earlier installs recorded.
#
# An install into DESTDIR, such as CPack's, stages files for a package and is not recorded: the
# paths in install_manifest.txt leave DESTDIR out, and would name the files of an installed
# package.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()

if(STEP STREQUAL "begin")
  set(MKANI_CREATED_DIRS "")
  foreach(dir IN LISTS DIRS)
    if(NOT IS_ABSOLUTE "${dir}")
      set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    cmake_path(NORMAL_PATH dir)
    string(REGEX REPLACE "(.)/$" "\\1" dir "${dir}")
    while(NOT EXISTS "${dir}")
      list(APPEND MKANI_CREATED_DIRS "${dir}")
      cmake_path(GET dir PARENT_PATH dir)
    endwhile()
  endforeach()
elseif(STEP STREQUAL "end")
  set(lines "")
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    list(APPEND lines "file ${file}")
  endforeach()
  foreach(dir IN LISTS MKANI_CREATED_DIRS)
    list(APPEND lines "dir ${dir}")
  endforeach()
  if(EXISTS "${RECORD}")
    file(STRINGS "${RECORD}" earlier)
    list(APPEND lines ${earlier})
  endif()
  list(REMOVE_DUPLICATES lines)
  list(JOIN lines "\n" text)
  file(WRITE "${RECORD}" "${text}\n")
endif()
