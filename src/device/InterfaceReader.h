#pragma once

#include "device/InterfaceInfo.h"

#include <vector>

class InterfaceSystem;

// Enumerates the interfaces through the given system layer: one record per name in order of first
// appearance, addresses appended per entry, hardware address and wireless state queried per entry
// (so a later entry's answer replaces an earlier one, except where a query gives nothing new).
// Failed queries print a perror-style line on standard error and leave the defaults.
// Any thread; the list is the caller's own.
std::vector<InterfaceInfo> readInterfaces(InterfaceSystem& system);
