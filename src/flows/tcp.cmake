# The HTTP-over-TCP engine: one MultiConnect thread per flow, one TcpClient per connection.
list(APPEND FLOW_ENGINE_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ApplicationTimer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TokenBucket.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TcpClient.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MultiConnect.cpp
)
