# The built service binary, run as a child process against sites on 127.0.0.1.
veltrane_test(service_e2e_test service_e2e_test.cpp support/service_process.cpp)
target_link_libraries(service_e2e_test PRIVATE veltrane_browser_test_support)
target_compile_definitions(service_e2e_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(service_e2e_test veltrane)

# The browser window with a real web view and a fast page timer.
veltrane_test(browser_window_test browser_window_test.cpp)
target_link_libraries(browser_window_test PRIVATE veltrane_app veltrane_browser_test_support)

# The install layout, from the built tree.
add_test(NAME InstallLayout
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_layout_test.sh ${PROJECT_BINARY_DIR})

# What the service tells systemd (on a notify socket of the test's own) and the
# operator, from the built binary; the unit's command line as systemd runs it.
pkg_check_modules(TEST_X11 REQUIRED IMPORTED_TARGET x11)
add_executable(service_notify_test service_notify_test.cpp support/notify_socket.cpp
  support/x_server_probe.cpp)
target_link_libraries(service_notify_test PRIVATE veltrane_fault_test_support veltrane_app
  GTest::gtest_main PkgConfig::TEST_X11)
target_compile_definitions(service_notify_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>"
  VELTRANE_UNIT_TEMPLATE="${PROJECT_SOURCE_DIR}/install/veltrane.service.in")
gtest_discover_tests(service_notify_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 300)

# Removing while the built service runs a job, a disabled schedule, and the
# service's own prune (history_keep_days), on the files and on a throw-away server.
add_executable(service_retention_test service_retention_test.cpp)
target_link_libraries(service_retention_test PRIVATE veltrane_fault_test_support veltrane_admin_lib
  GTest::gtest_main)
if(VELTRANE_WITH_POSTGRES)
  target_link_libraries(service_retention_test PRIVATE veltrane_postgres_server)
  target_compile_definitions(service_retention_test PRIVATE VELTRANE_WITH_POSTGRES)
endif()
add_dependencies(service_retention_test veltrane)
gtest_discover_tests(service_retention_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 300)
