# The Debian package: `cmake --build <build> --target package` makes
# veltrane_<version>_<arch>.deb in <build> from the install component "deb"
# (install/CMakeLists.txt: Debian's layout). Its dependencies are those of the
# linked shared libraries (dpkg-shlibdeps), plus Xvfb and xauth for the
# headless service and adduser for its system user.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Veltrane maintainers <veltrane@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "submits press releases to web sites on a schedule")
set(CPACK_PACKAGE_DESCRIPTION
    "An unattended service that polls the schedules in its store and drives a\n"
    "real browser engine (WebKitGTK) through each site's step script: it fills\n"
    "the form from the press release, submits it and judges whether the site\n"
    "accepted it. It runs headless under Xvfb as a hardened systemd service,\n"
    "as the system user veltrane. veltrane-admin prepares and inspects its\n"
    "databases.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, xvfb, xauth")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
