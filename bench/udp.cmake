# Send path of the UDP stream engine against a loopback socket.
add_executable(bench_udp ${CMAKE_CURRENT_LIST_DIR}/UdpStreamBench.cpp)
target_link_libraries(bench_udp PRIVATE roamnode_flows benchmark::benchmark)
