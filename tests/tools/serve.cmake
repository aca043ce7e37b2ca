# `roamnode-hub serve` with two real endpoints for a short campaign: the archive (SQLite, and
# PostgreSQL in a throw-away cluster where it is installed), export, /metrics, SIGHUP, SIGTERM.
add_executable(test_hub_serve HubServeCampaignTest.cpp)
target_link_libraries(test_hub_serve PRIVATE roamnode_testsupport GTest::gtest_main Qt5::Core)
target_compile_definitions(test_hub_serve PRIVATE
    ROAMNODE_BINARY="$<TARGET_FILE:roamnode>"
    ROAMNODE_HUB_BINARY="$<TARGET_FILE:roamnode-hub>")
add_dependencies(test_hub_serve roamnode roamnode-hub)
# A test that finds no PostgreSQL, or is not root, says SKIPPED.
gtest_discover_tests(test_hub_serve DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
    LABELS campaign SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")

set(HUB_DIR ${CMAKE_SOURCE_DIR}/tools/hub)
add_executable(test_hub_schedule HubScheduleTest.cpp ${HUB_DIR}/serve/Schedule.cpp
    ${HUB_DIR}/run/ScenarioFile.cpp)
target_include_directories(test_hub_schedule PRIVATE ${HUB_DIR}/serve ${HUB_DIR}/run)
target_link_libraries(test_hub_schedule PRIVATE roamnode_bus roamnode_tools_common GTest::gtest
    GTest::gtest_main)
gtest_discover_tests(test_hub_schedule DISCOVERY_TIMEOUT 60)

find_package(Qt5 REQUIRED COMPONENTS Sql)
add_executable(test_hub_archive HubArchiveTest.cpp ${HUB_DIR}/archive/ArchiveSpool.cpp
    ${HUB_DIR}/archive/ArchiveRecord.cpp ${HUB_DIR}/archive/ResultArchive.cpp)
target_include_directories(test_hub_archive PRIVATE ${HUB_DIR}/archive)
target_link_libraries(test_hub_archive PRIVATE roamnode_tools_common roamnode_bus PkgConfig::JSONCPP Qt5::Sql
    roamnode_testmain)
gtest_discover_tests(test_hub_archive DISCOVERY_TIMEOUT 60)
