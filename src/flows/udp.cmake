# The UDP engines: the shared socket context, the stream sender and the trigger receiver.
list(APPEND FLOW_ENGINE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DatagramBatch.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FrameBurst.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UdpContext.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Trigger.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WarningLimiter.cpp
)
