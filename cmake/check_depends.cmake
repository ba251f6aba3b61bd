# Run by CPack once it has built the Debian package: a package without a Depends line (where
# dpkg-shlibdeps is missing or fails, which CPack says only in passing) is not one to ship.
foreach(package ${CPACK_PACKAGE_FILES})
  execute_process(COMMAND dpkg-deb --field ${package} Depends OUTPUT_VARIABLE depends
                  RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR depends STREQUAL "")
    file(REMOVE ${package})
    message(FATAL_ERROR "${package} says nothing of the libc6 it needs: dpkg-shlibdeps is "
                        "missing or failed (Debian: apt-get install dpkg-dev)")
  endif()
endforeach()
