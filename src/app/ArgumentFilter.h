#pragma once

#include <vector>

namespace roamnode {

// Argument 0, then every further argument except those beginning with "-psn_" (added by some
// desktop launchers). The strings are not copied.
std::vector<char*> filterArguments(int argc, char** argv);

} // namespace roamnode
