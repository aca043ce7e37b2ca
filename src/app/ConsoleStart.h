#pragma once

namespace roamnode {

// The headless start: command line, console front end, application object, event loop.
// Returns the process exit status.
int startConsole(int argc, char** argv);

} // namespace roamnode
