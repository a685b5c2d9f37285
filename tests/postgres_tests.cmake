# Tests of the PostgreSQL store against a throw-away server of their own.
add_library(veltrane_postgres_test_support STATIC support/postgres_server.cpp)
target_include_directories(veltrane_postgres_test_support PUBLIC ${PROJECT_SOURCE_DIR})

veltrane_test(postgres_test postgres_test.cpp)
target_link_libraries(postgres_test PRIVATE veltrane_storage veltrane_postgres_test_support)
