// Client side of the control channel (used by `volink-sim ctl` and tests).
#pragma once

#include <filesystem>
#include <string>

namespace sim {

// Sends one command line and returns the answer up to and including its
// last line ("ok..." or "error: ..."). Throws std::runtime_error when the
// control socket cannot be reached.
std::string SendControl(const std::filesystem::path& socketPath, const std::string& line);

// The last line of a multi-line answer.
std::string LastLine(const std::string& text);

// The serving folder: VOLINK_SIM_DIR, else $XDG_RUNTIME_DIR/volink-sim,
// else /tmp/volink-sim-<uid>.
std::filesystem::path DefaultSimDir();

}  // namespace sim
