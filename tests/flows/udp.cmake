# The UDP engines against real loopback sockets.
add_executable(test_udp
    ${CMAKE_CURRENT_LIST_DIR}/UdpContextTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StreamTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TriggerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WarningLimiterTest.cpp
)
target_link_libraries(test_udp PRIVATE roamnode_testpeers GTest::gtest_main)
gtest_discover_tests(test_udp DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
