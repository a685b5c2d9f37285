# The Debian package: `cmake --build <build> --target package` makes
# veltrane_<version>_<arch>.deb in <build> from the install layout, placed in
# /opt/veltrane, with the system unit where systemd looks for units. Its
# dependencies are those of the linked shared libraries (dpkg-shlibdeps),
# plus Xvfb and xauth for the headless service.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Veltrane maintainers <veltrane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Submits press releases to web sites on a schedule")
set(CPACK_PACKAGE_DESCRIPTION
    "An unattended service that polls the schedules kept in SQLite and drives a real\n"
    "browser engine (WebKitGTK) through each site's step script: it fills the form\n"
    "from the press release, submits it and judges whether the site accepted it.\n"
    "It runs headless under Xvfb as a hardened systemd service.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/veltrane)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xvfb, xauth")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Copies the configured unit into /lib/systemd/system of the staged tree.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage_system_unit.cmake)
include(CPack)
