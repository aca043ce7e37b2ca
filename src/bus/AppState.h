#pragma once

#include <cstdint>

// The application state; the heartbeat hello, the front ends and the log follow it.
enum AppState : std::int32_t {
    BOOTING = 0,
    BOOTING_READY = 1,
    TRY_CONTACT_RVP = 2,
    REGISTERED = 3,
    ARMED = 4,
    RUNNING = 5,
};
