# The authoring commands: page inspection and site trials on a real view under
# Xvfb against sites on 127.0.0.1, and sites' evidence in real database files.
if(TARGET veltrane_authoring)
  pkg_check_modules(TEST_JSON_GLIB REQUIRED IMPORTED_TARGET json-glib-1.0)
  pkg_check_modules(TEST_X11 REQUIRED IMPORTED_TARGET x11)
  veltrane_test(authoring_test page_inspect_test.cpp site_try_test.cpp site_try_disk_test.cpp
    support/x_server_probe.cpp)
  target_link_libraries(authoring_test PRIVATE veltrane_authoring veltrane_browser_test_support
    PkgConfig::TEST_JSON_GLIB PkgConfig::TEST_X11)
  target_compile_definitions(authoring_test PRIVATE
    VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>")
  add_dependencies(authoring_test veltrane-admin)

  # site try through the built tool, on the files and on a PostgreSQL server,
  # and the built service started after it.
  if(VELTRANE_WITH_POSTGRES)
    veltrane_test(site_trial_record_test site_trial_record_test.cpp support/service_process.cpp)
    target_link_libraries(site_trial_record_test PRIVATE veltrane_browser_test_support
      veltrane_postgres_test_support)
    target_compile_definitions(site_trial_record_test PRIVATE
      VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>"
      VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
    add_dependencies(site_trial_record_test veltrane-admin veltrane)
  endif()
endif()

veltrane_test(evidence_test evidence_test.cpp)
target_link_libraries(evidence_test PRIVATE veltrane_job_runner veltrane_admin_lib)
