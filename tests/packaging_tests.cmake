# How Veltrane is installed and run as a Debian program: the tray icon on a
# private session bus, the journal priorities of the trace, the package.

# The tray icon as a StatusNotifierItem and as the GtkStatusIcon fallback.
find_program(DBUS_DAEMON dbus-daemon REQUIRED)
veltrane_test(tray_icon_test tray_icon_test.cpp)
target_link_libraries(tray_icon_test PRIVATE veltrane_app veltrane_ui_test_support)

# Journal priorities of the trace: how texts are sorted, and the built service
# on a job with one failed site (through the fault suite's harness, hence its label).
add_executable(journal_priority_test journal_priority_test.cpp)
target_link_libraries(journal_priority_test PRIVATE veltrane_fault_test_support GTest::gtest_main)
gtest_discover_tests(journal_priority_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 240)

# The Debian package, made by cpack from the built binaries.
add_test(NAME InstallPackage
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${PROJECT_BINARY_DIR})
set_tests_properties(InstallPackage PROPERTIES TIMEOUT 300)
