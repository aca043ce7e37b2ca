#pragma once

#include "bus/PXEvent.h"

#include <list>
#include <memory>
#include <string>
#include <type_traits>

// The one channel between managers. Synchronous and depth-first: when publish returns, every
// handler registered for the id has run, in the order of registration, and events published
// from inside a handler are delivered completely before the outer delivery goes on.
//
// Main thread only; it has no lock. Worker threads hand their results to an object on the main
// thread through queued Qt signals, and that object publishes.
class PXEventBus
{
public:
    struct PXEventHandlerRegistration
    {
        PXEventHandler* handler;
        int eventId;
    };

    PXEventBus() = default;
    PXEventBus(const PXEventBus&) = delete;
    PXEventBus& operator=(const PXEventBus&) = delete;

    // One registration per (id, handler): subscribing twice leaves one.
    void subscribe(int eventId, PXEventHandler* handler);
    // Removes every registration of the handler. Safe from inside a delivery: the walk skips it.
    void unsubscribe(PXEventHandler* handler);

    void publish(int eventId, roamnode::time_point time = std::chrono::system_clock::now());

    template <typename Payload>
    void publish(int eventId, const Payload& value,
                 roamnode::time_point time = std::chrono::system_clock::now())
    {
        using T = std::decay_t<Payload>;
        static_assert(std::is_same_v<T, PXEmptyEventContents> || std::is_same_v<T, int> ||
                          std::is_same_v<T, float> || std::is_same_v<T, unsigned long> ||
                          std::is_same_v<T, std::string> || std::is_same_v<T, bool> ||
                          std::is_same_v<T, AppState> || std::is_same_v<T, PXStatus>,
                      "not a payload type of the event bus");
        deliver(PXEvent(time, std::make_unique<PXEvent::PXEventImpl<T>>(eventId, value)));
    }

    void publish(int eventId, const char* text,
                 roamnode::time_point time = std::chrono::system_clock::now())
    {
        publish(eventId, std::string(text), time);
    }

    std::size_t registrationCount() const;

private:
    void deliver(const PXEvent& event);

    std::list<std::shared_ptr<PXEventHandlerRegistration>> m_registrations;
    int m_walkDepth = 0;
    bool m_hasDeadRegistrations = false;
};
