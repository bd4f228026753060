// The program's version, and the folders where a program of the tool
// family finds what ships with it: beside the program file first (the build
// tree keeps that layout), then the installed data folder
// (<prefix>/share/gadrel, found from the program's own place so that an
// installed tree may be moved as a whole).
#pragma once

#include <filesystem>
#include <vector>

namespace platform {

// The release number, e.g. "3.23"; one number for every program.
const char* ProgramVersion();

// The folder of the running program file (the current folder when the
// program file cannot be named).
std::filesystem::path ProgramDir();

// The installed data folders for a program in `programDir`, most specific
// first: the one its place gives (<programDir>/../share/gadrel for a program
// in <prefix>/bin), then the folder the build was configured to install
// into, when that differs.
std::vector<std::filesystem::path> InstalledDataDirs(const std::filesystem::path& programDir = ProgramDir());

// <programDir>/`besideProgram` when it exists, else the first installed data
// folder that holds `inData`, else <programDir>/`besideProgram` all the
// same, so that a message about a missing file names the first place.
std::filesystem::path FindProgramData(const std::filesystem::path& besideProgram, const std::filesystem::path& inData,
                                      const std::filesystem::path& programDir = ProgramDir());

}  // namespace platform
