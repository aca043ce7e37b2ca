#pragma once

namespace hubarchive {

// `roamnode-hub export`: argv starts at "export". Returns the exit status.
int exportCommand(int argc, char** argv);

} // namespace hubarchive
