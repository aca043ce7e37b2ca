#include "InterfaceSource.h"

#include "HostInterfaceSystem.h"
#include "InterfaceReader.h"

#include <mutex>
#include <shared_mutex>

namespace {

// Samples of several runs may read at once; replacing the source waits for them.
std::shared_mutex& sourceMutex()
{
    static std::shared_mutex mutex;
    return mutex;
}

InterfaceSource* g_source = nullptr;

} // namespace

void setInterfaceSource(InterfaceSource* source)
{
    std::unique_lock<std::shared_mutex> lock(sourceMutex());
    g_source = source;
}

void clearInterfaceSource(InterfaceSource* source)
{
    std::unique_lock<std::shared_mutex> lock(sourceMutex());
    if (g_source == source)
        g_source = nullptr;
}

std::vector<InterfaceInfo> readCurrentInterfaces()
{
    std::shared_lock<std::shared_mutex> lock(sourceMutex());
    if (g_source)
        return g_source->readInterfaces();
    lock.unlock();
    return readInterfaces(hostInterfaceSystem());
}
