#include "bus/PXEventBus.h"

#include <algorithm>

void PXEventBus::subscribe(int eventId, PXEventHandler* handler)
{
    const bool exists =
        std::any_of(m_registrations.begin(), m_registrations.end(),
                    [&](const auto& r) { return r->handler == handler && r->eventId == eventId; });
    if (!exists)
        m_registrations.push_back(std::make_shared<PXEventHandlerRegistration>(
            PXEventHandlerRegistration{handler, eventId}));
}

void PXEventBus::unsubscribe(PXEventHandler* handler)
{
    if (m_walkDepth > 0) {
        // A walk is in progress: erasing would invalidate its iterator, so mark instead.
        for (auto& r : m_registrations)
            if (r->handler == handler) {
                r->handler = nullptr;
                m_hasDeadRegistrations = true;
            }
        return;
    }
    m_registrations.remove_if([&](const auto& r) { return r->handler == handler; });
}

void PXEventBus::publish(int eventId, roamnode::time_point time)
{
    publish(eventId, PXEmptyEventContents{}, time);
}

void PXEventBus::deliver(const PXEvent& event)
{
    const int id = event.eventId();
    ++m_walkDepth;
    // Registrations appended during the walk are reached too: std::list iterators stay valid.
    for (auto it = m_registrations.begin(); it != m_registrations.end(); ++it) {
        PXEventHandlerRegistration& registration = **it;
        if (registration.eventId != id || registration.handler == nullptr)
            continue;
        registration.handler->currentEvent = &event;
        event.impl->dispatch(*registration.handler);
    }
    --m_walkDepth;
    if (m_walkDepth == 0 && m_hasDeadRegistrations) {
        m_registrations.remove_if([](const auto& r) { return r->handler == nullptr; });
        m_hasDeadRegistrations = false;
    }
}

std::size_t PXEventBus::registrationCount() const
{
    return static_cast<std::size_t>(std::count_if(m_registrations.begin(), m_registrations.end(),
                                                  [](const auto& r) { return r->handler; }));
}
