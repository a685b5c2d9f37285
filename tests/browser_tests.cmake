# Link search, page text and the navigation guards: plain logic, no display.
veltrane_test(link_search_test link_search_test.cpp)
target_link_libraries(link_search_test PRIVATE veltrane_engine)

veltrane_test(page_text_test page_text_test.cpp)
target_link_libraries(page_text_test PRIVATE veltrane_engine)

# Browser test support: a recording HTTP server on 127.0.0.1 and a shared
# WebKit view with recorded events (main-loop waiting comes with the UI support).
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(veltrane_browser_test_support STATIC
  support/browser_harness.cpp
  support/recording_http_server.cpp
)
target_include_directories(veltrane_browser_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(veltrane_browser_test_support PUBLIC veltrane_browser veltrane_ui_test_support
  PkgConfig::HTTPLIB Threads::Threads)

# The WebKit control on a real view; needs an X display (xvfb-run).
veltrane_test(browser_page_test browser_page_test.cpp)
target_link_libraries(browser_page_test PRIVATE veltrane_browser_test_support veltrane_engine)

find_package(OpenSSL REQUIRED)
veltrane_test(browser_events_test browser_events_test.cpp)
target_link_libraries(browser_events_test PRIVATE veltrane_browser_test_support veltrane_engine
  OpenSSL::SSL OpenSSL::Crypto)

# What the step engine reads of the next page: plain logic, no display.
veltrane_test(page_needs_test page_needs_test.cpp)
target_link_libraries(page_needs_test PRIVATE veltrane_engine)

# The web process's memory over many pages read by the control; needs an X display.
veltrane_test(browser_memory_test browser_memory_test.cpp)
target_link_libraries(browser_memory_test PRIVATE veltrane_browser_test_support)
