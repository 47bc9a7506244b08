#pragma once

namespace morvane {

// The agent program: single-instance test, the hidden main form, the message loop until
// "Shut down" or a termination signal. Returns the process's exit code: 0 after an orderly
// shutdown and when another agent already runs, 1 when the agent cannot start.
int AgentMain(int argc, char** argv);

} // namespace morvane
