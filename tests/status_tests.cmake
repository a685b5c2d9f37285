# veltrane-admin status against the built service: idle, in a job, killed
# (stale), a failing poll and a clean exit, on the files and, when built, on a
# throw-away PostgreSQL server.
pkg_check_modules(STATUS_TEST_JSON_GLIB REQUIRED IMPORTED_TARGET json-glib-1.0)
add_executable(service_status_test service_status_test.cpp)
target_link_libraries(service_status_test PRIVATE veltrane_fault_test_support veltrane_admin_lib veltrane_app
  PkgConfig::STATUS_TEST_JSON_GLIB GTest::gtest_main)
if(VELTRANE_WITH_POSTGRES)
  target_link_libraries(service_status_test PRIVATE veltrane_postgres_test_support)
  target_compile_definitions(service_status_test PRIVATE VELTRANE_WITH_POSTGRES)
endif()
target_compile_definitions(service_status_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(service_status_test veltrane)
gtest_discover_tests(service_status_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)
