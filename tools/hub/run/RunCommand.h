#pragma once

namespace hubrun {

// `roamnode-hub run ...`: argv[0] is "run". Returns the process exit status: 0 when every
// endpoint ran the scenario and every flow succeeded in full, 1 when an endpoint failed or
// refused it (or the results could not be written), 2 for a bad command line or scenario file,
// 3 when the run completed but a flow failed or a stream fell short, 130 when interrupted.
int runCommand(int argc, char** argv);

} // namespace hubrun

using hubrun::runCommand;
