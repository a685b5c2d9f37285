# The authoring commands: page inspection and site trials on a real view under
# Xvfb against sites on 127.0.0.1, and sites' evidence in real database files.
if(TARGET veltrane_authoring)
  pkg_check_modules(TEST_JSON_GLIB REQUIRED IMPORTED_TARGET json-glib-1.0)
  veltrane_test(authoring_test page_inspect_test.cpp site_try_test.cpp site_try_disk_test.cpp)
  target_link_libraries(authoring_test PRIVATE veltrane_authoring veltrane_browser_test_support
    PkgConfig::TEST_JSON_GLIB)
  target_compile_definitions(authoring_test PRIVATE
    VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>")
  add_dependencies(authoring_test veltrane-admin)
endif()

veltrane_test(evidence_test evidence_test.cpp)
target_link_libraries(evidence_test PRIVATE veltrane_job_runner veltrane_admin_lib)
