#pragma once

#include "InterfaceInfo.h"

#include <vector>

// What the network information monitor needs from the device-information manager, so that the
// monitor depends neither on the manager nor on the application object.
class InterfaceSource
{
public:
    virtual ~InterfaceSource() = default;
    // May be called from any thread.
    virtual std::vector<InterfaceInfo> readInterfaces() = 0;
};

// The process-wide source the monitors sample. The application object sets it to its
// device-information manager and clears it before destroying that manager.
//
// Thread-safe. A read in progress holds the source: setInterfaceSource (and
// clearInterfaceSource) return only after every read through the previous source has finished,
// so the source may be destroyed right after it has been replaced.
void setInterfaceSource(InterfaceSource* source);

// Clears the process-wide source only if it still is the given one.
void clearInterfaceSource(InterfaceSource* source);

// readInterfaces of the process-wide source, or of the host directly when none is set.
std::vector<InterfaceInfo> readCurrentInterfaces();
