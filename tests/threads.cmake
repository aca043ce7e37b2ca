# The threaded core under ThreadSanitizer (`make sanitize`, ROAMNODE_SANITIZE=thread): the UDP
# contexts and their engines, the executor, worker and gauge, the heartbeat session and its
# hand-over to the main thread, the monitors' sampling, and shutdown during a run. One CTest entry
# per group of suites, labelled "threads"; any report fails its entry.
set(ROAMNODE_THREAD_SUITES
    test_udp "UdpContext*:UdpSharing*"
    test_udp "Stream*"
    test_udp "Trigger*"
    test_scenario "ScenarioExecutorTest.*:WorkerRunTest.*:GaugeLoopTest.*:GaugeSpeedTest.*"
    test_scenario "StartTimerTest.*:ManagerTest.*"
    test_heartbeat "Session*"
    test_heartbeat "ManagerTest.*"
    test_device "MonitorTest.*"
    test_app "RoamnodeTest.*"
)
set(ROAMNODE_TSAN_OPTIONS
    "TSAN_OPTIONS=second_deadlock_stack=1:history_size=4:suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")

list(LENGTH ROAMNODE_THREAD_SUITES count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET ROAMNODE_THREAD_SUITES ${i} executable)
    list(GET ROAMNODE_THREAD_SUITES ${j} filter)
    add_test(NAME threads.${executable}.${i}
        COMMAND $<TARGET_FILE:${executable}> --gtest_filter=${filter})
    set_tests_properties(threads.${executable}.${i} PROPERTIES
        LABELS threads TIMEOUT 600
        ENVIRONMENT "${ROAMNODE_TSAN_OPTIONS};QT_QPA_PLATFORM=offscreen")
endforeach()
