#include "device/InterfaceSource.h"

#include "device/HostInterfaceSystem.h"
#include "device/InterfaceReader.h"

namespace {

class HostInterfaceSource : public InterfaceSource
{
public:
    std::vector<InterfaceInfo> readInterfaces() override
    {
        return ::readInterfaces(hostInterfaceSystem());
    }
};

} // namespace

InterfaceSource& hostInterfaceSource()
{
    // Never destroyed: a run thread may still read it while the process exits.
    static auto* source = new HostInterfaceSource();
    return *source;
}
