# The HTTP-over-TCP engine against real loopback peers and roamnode-httpd.
add_executable(test_tcp
    ${CMAKE_CURRENT_LIST_DIR}/TokenBucketTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TcpClientTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MultiConnectTest.cpp
)
target_link_libraries(test_tcp PRIVATE roamnode_testpeers roamnode_testsupport GTest::gtest_main)
target_compile_definitions(test_tcp PRIVATE ROAMNODE_HTTPD="$<TARGET_FILE:roamnode-httpd>")
add_dependencies(test_tcp roamnode-httpd)
gtest_discover_tests(test_tcp DISCOVERY_TIMEOUT 60)
