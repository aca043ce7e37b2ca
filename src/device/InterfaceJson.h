#pragma once

#include "device/InterfaceInfo.h"

#include <string>
#include <vector>

// The interface texts the hub reads ("interfaces", "networkinfo") and the monitor writes into its
// samples. Member order and spacing are fixed: the hub's parser has always seen them this way.
// Every text from the system (names, SSIDs, hardware addresses) is escaped, so an SSID with a
// quote or a control byte cannot break the document; plain texts come out unchanged between
// double quotes.

// {"type": "...","name": "...", ...,"rssi": -52,"txrate":144400000,"rxrate":144400000,"channel":36}
std::string interfaceJson(const InterfaceInfo& info);

// "[" records joined by ", " "]".
std::string interfacesJson(const std::vector<InterfaceInfo>& interfaces);

// { "interfaces": [...], "ssid": "...", "bssid": "..."}
std::string networkInfoJson(const std::vector<InterfaceInfo>& interfaces);
