#pragma once

#include "bus/TimePoint.h"

#include <QMetaType>

#include <chrono>
#include <string>

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(roamnode::time_point)
Q_DECLARE_METATYPE(std::chrono::milliseconds)

namespace roamnode {

// Lets these values travel through queued signals between threads. Safe to call repeatedly.
void registerMetaTypes();

} // namespace roamnode
