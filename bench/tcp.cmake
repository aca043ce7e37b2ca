# Loopback throughput of the TCP engine against the test server, run in-process.
add_executable(bench_tcp ${CMAKE_CURRENT_LIST_DIR}/tcp/TcpBench.cpp
    ${PROJECT_SOURCE_DIR}/tools/httpd/HttpServer.cpp)
target_include_directories(bench_tcp PRIVATE ${PROJECT_SOURCE_DIR}/tools/httpd)
target_link_libraries(bench_tcp PRIVATE roamnode_flows benchmark::benchmark
    benchmark::benchmark_main)
