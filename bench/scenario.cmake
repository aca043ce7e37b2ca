# The scenario subsystem's hot and bulky paths: counting samples, writing the result list,
# parsing a description.
add_executable(bench_scenario ${CMAKE_CURRENT_LIST_DIR}/scenario/ScenarioBench.cpp)
target_link_libraries(bench_scenario PRIVATE roamnode_scenario benchmark::benchmark
    benchmark::benchmark_main)
