// Release number and install folders come from the build (GADREL_VERSION,
// GADREL_BIN_TO_DATA: the data folder relative to the program folder,
// GADREL_DATA_DIR: the configured absolute data folder).
#include "platform/ProgramInfo.h"

#include <system_error>

namespace platform {

namespace fs = std::filesystem;

const char* ProgramVersion() { return GADREL_VERSION; }

fs::path ProgramDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return exe.parent_path();
  return fs::current_path(ec);
}

std::vector<fs::path> InstalledDataDirs(const fs::path& programDir) {
  std::vector<fs::path> dirs{(programDir / GADREL_BIN_TO_DATA).lexically_normal()};
  const fs::path configured = fs::path(GADREL_DATA_DIR).lexically_normal();
  std::error_code ec;
  if (configured != dirs.front() && !fs::equivalent(configured, dirs.front(), ec)) dirs.push_back(configured);
  return dirs;
}

fs::path FindProgramData(const fs::path& besideProgram, const fs::path& inData, const fs::path& programDir) {
  std::error_code ec;
  const fs::path first = programDir / besideProgram;
  if (fs::exists(first, ec)) return first;
  for (const fs::path& dir : InstalledDataDirs(programDir)) {
    const fs::path candidate = dir / inData;
    if (fs::exists(candidate, ec)) return candidate;
  }
  return first;
}

}  // namespace platform
