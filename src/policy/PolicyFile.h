#pragma once

#include "policy/PXPolicy.h"

#include <string>

namespace roamnode {

// Reads a policy from JSON text (comments allowed). Fails closed: text that does not parse, a
// key this endpoint does not know, or a value of the wrong type or range refuses the whole
// policy, and `error` names the line and the key ("line 7: \"maxflows\" must be a whole number
// from 0 to 18446744073709551615").
bool parsePolicy(const std::string& text, PXPolicy& policy, std::string& error);

// The same for a file; `error` begins with the path.
bool readPolicyFile(const std::string& path, PXPolicy& policy, std::string& error);

} // namespace roamnode
