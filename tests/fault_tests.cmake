# The fault suite: the built service against servers on 127.0.0.1 that
# misbehave on purpose, with the page timer and the poll interval shortened.
# Label "fault"; every case starts a service copy of its own.
find_package(OpenSSL REQUIRED)
pkg_check_modules(FAULT_X11 REQUIRED IMPORTED_TARGET x11)

add_library(veltrane_fault_test_support STATIC
  support/fault_harness.cpp
  support/fault_host.cpp
  support/fault_servers.cpp
  support/service_process.cpp
)
target_link_libraries(veltrane_fault_test_support PUBLIC veltrane_test_support
  veltrane_browser_test_support OpenSSL::SSL OpenSSL::Crypto PkgConfig::FAULT_X11)
target_compile_definitions(veltrane_fault_test_support PRIVATE
  VELTRANE_BINARY="$<TARGET_FILE:veltrane>")
add_dependencies(veltrane_fault_test_support veltrane)

foreach(name fault_lanes_test fault_responses_test fault_pages_test fault_web_process_test fault_data_test fault_safety_test
    fault_start_test fault_script_pages_test fault_script_forms_test fault_request_guard_test)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE veltrane_fault_test_support GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 240)
endforeach()

# 'history show' reads what the service kept.
target_link_libraries(fault_safety_test PRIVATE veltrane_admin_lib)

# Nothing of a job left on disk: the service run with its home folders in a temporary one.
add_executable(fault_disk_test fault_disk_test.cpp)
target_link_libraries(fault_disk_test PRIVATE veltrane_fault_test_support GTest::gtest_main)
gtest_discover_tests(fault_disk_test DISCOVERY_TIMEOUT 60 PROPERTIES LABELS fault TIMEOUT 240)
