#include "app/ArgumentFilter.h"
#include "app/ConsoleStart.h"
#include "app/GraphicalStart.h"
#include "bus/MetaTypes.h"

int main(int argc, char** argv)
{
    roamnode::registerMetaTypes();
    std::vector<char*> arguments = roamnode::filterArguments(argc, argv);
    // Any argument left, the help option included, selects the console.
    if (arguments.size() > 1)
        return roamnode::startConsole(static_cast<int>(arguments.size()), arguments.data());
    return roamnode::startGraphical(static_cast<int>(arguments.size()), arguments.data());
}
