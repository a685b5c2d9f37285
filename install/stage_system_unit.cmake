# Run by CPack once the install layout is staged: systemd finds the unit that
# names /opt/veltrane in /lib/systemd/system of the package as well.
set(staged "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/systemd/veltrane.service")
if(NOT EXISTS "${staged}")
  message(FATAL_ERROR "no staged unit at ${staged}")
endif()
file(COPY "${staged}" DESTINATION "${CPACK_TEMPORARY_DIRECTORY}/lib/systemd/system")
