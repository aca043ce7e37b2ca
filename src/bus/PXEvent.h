#pragma once

#include "bus/PXEventHandler.h"
#include "bus/TimePoint.h"

#include <memory>
#include <utility>

// The envelope of one publication; it lives on the publisher's stack while the bus delivers it.
class PXEvent
{
public:
    class PXEventImplBase
    {
    public:
        explicit PXEventImplBase(int eventId) : eventId(eventId) {}
        virtual ~PXEventImplBase() = default;
        virtual void dispatch(PXEventHandler& handler) const = 0;

        const int eventId;
    };

    template <typename Payload> class PXEventImpl final : public PXEventImplBase
    {
    public:
        PXEventImpl(int eventId, Payload value) : PXEventImplBase(eventId), value(std::move(value))
        {
        }

        // A string payload is copied for each handler: handleEvent takes it by value.
        void dispatch(PXEventHandler& handler) const override
        {
            handler.handleEvent(eventId, value);
        }

        const Payload value;
    };

    PXEvent(roamnode::time_point time, std::unique_ptr<PXEventImplBase> impl)
        : time(time), impl(std::move(impl))
    {
    }

    int eventId() const { return impl->eventId; }

    const roamnode::time_point time;
    const std::unique_ptr<PXEventImplBase> impl;
};
