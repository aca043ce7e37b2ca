#include "bus/MetaTypes.h"

namespace roamnode {

void registerMetaTypes()
{
    qRegisterMetaType<std::string>("std::string");
    qRegisterMetaType<std::chrono::system_clock::time_point>(
        "std::chrono::system_clock::time_point");
    qRegisterMetaType<roamnode::time_point>("roamnode::time_point");
    qRegisterMetaType<std::chrono::milliseconds>("std::chrono::milliseconds");
}

} // namespace roamnode
