#pragma once

#include "device/InterfaceInfo.h"

#include <vector>

// What the network information monitor needs from the device-information manager, so that the
// monitor depends neither on the manager nor on the application object. The scenario side is
// handed its source when it is built.
class InterfaceSource
{
public:
    virtual ~InterfaceSource() = default;
    // May be called from any thread.
    virtual std::vector<InterfaceInfo> readInterfaces() = 0;
};

// Reads the host's interfaces directly, for a scenario side built without the device-information
// manager (tests, tools). Stateless and thread-safe.
InterfaceSource& hostInterfaceSource();
