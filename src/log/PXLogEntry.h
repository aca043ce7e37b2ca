#pragma once

#include "bus/TimePoint.h"

#include <string>

struct PXLogEntry
{
    roamnode::time_point time;
    int level = 0;
    std::string message;
};
