# Tests of the PostgreSQL store against a throw-away server of their own.
# Built only with PostgreSQL support.
if(NOT VELTRANE_WITH_POSTGRES)
  return()
endif()

add_library(veltrane_postgres_test_support STATIC support/tcp_proxy.cpp)
target_include_directories(veltrane_postgres_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(veltrane_postgres_test_support PUBLIC veltrane_postgres_server Threads::Threads)

veltrane_test(postgres_test postgres_test.cpp)
target_link_libraries(postgres_test PRIVATE veltrane_jobs veltrane_postgres_test_support)

# Service instances sharing one server: label "fault", like the other runs of the built service.
add_executable(shared_store_test shared_store_test.cpp)
target_link_libraries(shared_store_test PRIVATE veltrane_fault_test_support
  veltrane_postgres_test_support veltrane_storage GTest::gtest_main)
target_compile_definitions(shared_store_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(shared_store_test veltrane)
gtest_discover_tests(shared_store_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)

veltrane_test(admin_postgres_test admin_postgres_test.cpp)
target_link_libraries(admin_postgres_test PRIVATE veltrane_admin_lib veltrane_postgres_test_support)

# Instances on a shared server under faults of their own: a cut connection, a
# jumping clock, an outage at a job's start, another time zone.
add_executable(shared_store_fence_test shared_store_fence_test.cpp)
target_link_libraries(shared_store_fence_test PRIVATE veltrane_fault_test_support
  veltrane_postgres_test_support veltrane_storage GTest::gtest_main)
target_compile_definitions(shared_store_fence_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(shared_store_fence_test veltrane)
gtest_discover_tests(shared_store_fence_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)

# One instance on a server that freezes or goes away mid-job: label "fault" too.
add_executable(store_outage_test store_outage_test.cpp)
target_link_libraries(store_outage_test PRIVATE veltrane_fault_test_support
  veltrane_postgres_test_support veltrane_storage GTest::gtest_main)
target_compile_definitions(store_outage_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(store_outage_test veltrane)
gtest_discover_tests(store_outage_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)

# Two instances sharing the sites of one job.
add_executable(shared_job_test shared_job_test.cpp)
target_link_libraries(shared_job_test PRIVATE veltrane_fault_test_support
  veltrane_postgres_test_support veltrane_storage GTest::gtest_main)
target_compile_definitions(shared_job_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(shared_job_test veltrane)
gtest_discover_tests(shared_job_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 400)
