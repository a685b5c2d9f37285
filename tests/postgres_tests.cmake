# Tests of the PostgreSQL store against a throw-away server of their own.
# Built only with PostgreSQL support.
if(NOT VELTRANE_WITH_POSTGRES)
  return()
endif()

add_library(veltrane_postgres_test_support STATIC support/tcp_proxy.cpp)
target_include_directories(veltrane_postgres_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(veltrane_postgres_test_support PUBLIC veltrane_postgres_server Threads::Threads)

# Runs of the built service on a throw-away server: label "fault", like the
# other runs of the built service.
function(veltrane_shared_service_test name)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE veltrane_fault_test_support
    veltrane_postgres_test_support veltrane_storage GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
  add_dependencies(${name} veltrane)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)
endfunction()

veltrane_test(postgres_test postgres_test.cpp)
target_link_libraries(postgres_test PRIVATE veltrane_jobs veltrane_postgres_test_support)

# Service instances sharing one server.
veltrane_shared_service_test(shared_store_test)

veltrane_test(admin_postgres_test admin_postgres_test.cpp)
target_link_libraries(admin_postgres_test PRIVATE veltrane_admin_lib veltrane_postgres_test_support)

# Instances on a shared server under faults of their own: a cut connection, a
# jumping clock, an outage at a job's start, another time zone.
veltrane_shared_service_test(shared_store_fence_test)

# One instance on a server that freezes or goes away mid-job: label "fault" too.
veltrane_shared_service_test(store_outage_test)

# Two instances sharing the sites of one job.
veltrane_shared_service_test(shared_job_test)
