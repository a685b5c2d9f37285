# The web view: its pieces on plain data and real database files, and its
# pages in a real browser over a store a real job of the built service filled.
veltrane_test(web_test web_test.cpp)
target_link_libraries(web_test PRIVATE veltrane_admin_lib)

veltrane_test(web_view_test web_view_test.cpp support/service_process.cpp)
target_link_libraries(web_view_test PRIVATE veltrane_browser_test_support)
target_compile_definitions(web_view_test PRIVATE VELTRANE_BINARY="$<TARGET_FILE:veltrane>"
  VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>")
add_dependencies(web_view_test veltrane veltrane-admin)

# The built veltrane-admin serve over HTTP and HTTPS on 127.0.0.1: host names,
# sign-in and sessions, the settings it refuses.
find_package(OpenSSL REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
veltrane_test(web_serve_test web_serve_test.cpp support/service_process.cpp)
target_link_libraries(web_serve_test PRIVATE PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto)
target_compile_definitions(web_serve_test PRIVATE
  VELTRANE_ADMIN_EXECUTABLE="$<TARGET_FILE:veltrane-admin>")
add_dependencies(web_serve_test veltrane-admin)
