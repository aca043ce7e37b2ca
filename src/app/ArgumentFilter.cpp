#include "app/ArgumentFilter.h"

#include <cstring>

namespace roamnode {

std::vector<char*> filterArguments(int argc, char** argv)
{
    std::vector<char*> filtered;
    if (argc > 0)
        filtered.push_back(argv[0]);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "-psn_", 5) != 0)
            filtered.push_back(argv[i]);
    return filtered;
}

} // namespace roamnode
