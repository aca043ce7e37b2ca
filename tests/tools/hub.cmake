# `roamnode-hub run`: its pure pieces in memory, and whole runs of the real hub with real
# endpoints as separate processes.
set(HUB_RUN_DIR ${CMAKE_SOURCE_DIR}/tools/hub/run)
add_executable(test_hub_run
    HubRunTest.cpp
    ${HUB_RUN_DIR}/RunOptions.cpp
    ${CMAKE_SOURCE_DIR}/tools/hub/HubTlsOptions.cpp
    ${HUB_RUN_DIR}/ClockOffset.cpp
    ${HUB_RUN_DIR}/ScenarioFile.cpp
    ${HUB_RUN_DIR}/HttpdStats.cpp
    ${HUB_RUN_DIR}/EndpointDriver.cpp
    ${CMAKE_SOURCE_DIR}/tools/httpd/ConnectionStats.cpp
)
target_include_directories(test_hub_run PRIVATE ${HUB_RUN_DIR} ${CMAKE_SOURCE_DIR}/tools/hub ${CMAKE_SOURCE_DIR}/tools/httpd)
target_compile_definitions(test_hub_run PRIVATE ROAMNODE_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(test_hub_run PRIVATE roamnode_report roamnode_bus roamnode_tools_common
    GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_hub_run DISCOVERY_TIMEOUT 60)

add_executable(test_hub_run_e2e HubRunEndToEndTest.cpp)
target_link_libraries(test_hub_run_e2e PRIVATE roamnode_testsupport GTest::gtest_main Qt5::Core)
target_compile_definitions(test_hub_run_e2e PRIVATE
    ROAMNODE_BINARY="$<TARGET_FILE:roamnode>"
    ROAMNODE_HUB_BINARY="$<TARGET_FILE:roamnode-hub>"
    ROAMNODE_HTTPD_BINARY="$<TARGET_FILE:roamnode-httpd>")
add_dependencies(test_hub_run_e2e roamnode roamnode-hub roamnode-httpd)
gtest_discover_tests(test_hub_run_e2e DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# roamnode-httpd --help: on standard output, status 0, and it names --stats (demo.sh looks).
add_test(NAME httpd_help COMMAND sh -c "'$<TARGET_FILE:roamnode-httpd>' --help | grep -q -- --stats")

# `make demo` end to end: one loopback run, the report's path said once.
add_test(NAME demo_prints_the_report_once
    COMMAND sh -c "BUILD_DIR='${CMAKE_BINARY_DIR}' '${CMAKE_SOURCE_DIR}/scripts/demo.sh' > '${CMAKE_CURRENT_BINARY_DIR}/demo.out' 2>&1; status=$?; cat '${CMAKE_CURRENT_BINARY_DIR}/demo.out'; [ $status -eq 0 ] && [ $(grep -c 'report.html' '${CMAKE_CURRENT_BINARY_DIR}/demo.out') -eq 1 ]")
set_tests_properties(demo_prints_the_report_once PROPERTIES TIMEOUT 150 RUN_SERIAL TRUE)

# Two endpoints in network namespaces with addresses of their own, a token bucket on the link
# between them: loss across endpoints, HTTP bytes per endpoint, a short stream, exit status 3.
# Skipped (77) without root or network namespaces.
add_test(NAME hub_two_namespaces
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/two-namespaces.sh $<TARGET_FILE:roamnode>
        $<TARGET_FILE:roamnode-hub> $<TARGET_FILE:roamnode-httpd>
        ${CMAKE_CURRENT_BINARY_DIR}/two-namespaces)
set_tests_properties(hub_two_namespaces PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180
    RUN_SERIAL TRUE)
