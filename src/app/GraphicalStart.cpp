#include "GraphicalStart.h"

#include <cstdio>

namespace roamnode {

int startGraphical(int argc, char** argv)
{
    std::fprintf(stderr, "The graphical front end is not available in this build.\n"
                         "Usage: %s [options] rallyhub\n",
                 argc > 0 ? argv[0] : "roamnode");
    return 1;
}

} // namespace roamnode
