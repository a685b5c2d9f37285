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
