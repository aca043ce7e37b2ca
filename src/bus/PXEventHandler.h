#pragma once

#include "bus/AppState.h"
#include "bus/PXStatus.h"

#include <string>

class PXEvent;

struct PXEmptyEventContents
{
};

// Interface of every event receiver. A handler overrides only the overloads for the payload
// types it receives; an event arriving with another payload type reaches the empty default.
class PXEventHandler
{
public:
    virtual ~PXEventHandler() = default;

    virtual void handleEvent(int eventId, PXEmptyEventContents) {}
    virtual void handleEvent(int eventId, int value) {}
    virtual void handleEvent(int eventId, float value) {}
    virtual void handleEvent(int eventId, unsigned long value) {}
    virtual void handleEvent(int eventId, std::string value) {}
    virtual void handleEvent(int eventId, bool value) {}
    virtual void handleEvent(int eventId, AppState value) {}
    virtual void handleEvent(int eventId, PXStatus value) {}

    // Set by the bus right before each call. Valid only during that call and only until the
    // handler publishes itself: a nested delivery to the same handler overwrites it.
    const PXEvent* currentEvent = nullptr;
};
