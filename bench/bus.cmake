add_executable(bench_bus ${CMAKE_CURRENT_LIST_DIR}/EventBusBench.cpp)
target_link_libraries(bench_bus PRIVATE roamnode_bus benchmark::benchmark benchmark::benchmark_main)
