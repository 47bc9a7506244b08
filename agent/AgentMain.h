#pragma once

namespace morvane {

// Also brings up the monitor once the agent's window exists: what the applications menu
// runs, so that its entry opens the monitor also while no agent runs yet. With an agent
// already running, the monitor is started (it shows the one that runs) instead of the
// "already started" box.
inline constexpr const char* kShowMonitorOption = "--show-monitor";

// The agent program: single-instance test, the hidden main form, the message loop until
// "Shut down" or a termination signal. Returns the process's exit code: 0 after an orderly
// shutdown and when another agent already runs, 1 when the agent cannot start (or, with
// kShowMonitorOption, the monitor cannot be started beside a running agent).
int AgentMain(int argc, char** argv);

} // namespace morvane
