# Hosts of addresses for the login rule: plain logic, no display.
veltrane_test(login_hosts_test login_hosts_test.cpp)
target_link_libraries(login_hosts_test PRIVATE veltrane_engine)
