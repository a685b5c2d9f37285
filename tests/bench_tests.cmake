# The benchmark's farm: its latency holds answers back without holding up
# other connections.
veltrane_test(bench_farm_test bench_farm_test.cpp)
target_link_libraries(bench_farm_test PRIVATE veltrane_bench)

# Which process group opened each connection to the farm.
veltrane_test(bench_clients_test bench_clients_test.cpp)
target_link_libraries(bench_clients_test PRIVATE veltrane_bench)
