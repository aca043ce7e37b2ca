#pragma once

namespace hubrun {

// `roamnode-hub run ...`: argv[0] is "run". Returns the process exit status: 0 when every
// endpoint ran the scenario and returned its results, 1 when one failed or refused it, 2 for a
// bad command line or scenario file, 130 when interrupted.
int runCommand(int argc, char** argv);

} // namespace hubrun

using hubrun::runCommand;
