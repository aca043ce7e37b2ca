# The control channel's pure pieces: framing and reassembly of frames, the request parser.
add_executable(bench_heartbeat ${CMAKE_CURRENT_LIST_DIR}/heartbeat/HeartbeatBench.cpp)
target_link_libraries(bench_heartbeat PRIVATE roamnode_heartbeat benchmark::benchmark Qt5::Core)
