#pragma once

namespace hubserve {

// `roamnode-hub serve`: argv starts at "serve". Returns the exit status.
int serveCommand(int argc, char** argv);

} // namespace hubserve
