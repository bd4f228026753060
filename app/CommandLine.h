// The program's command line: `-run_script FILE` (or `/run_script FILE`)
// runs one script without a window. Options are words after "-", "--" or
// "/"; every option resets the pending handler, and only "run_script" sets
// one: the first plain argument after it becomes the script path, later
// ones are swallowed. A plain argument with no pending handler switches
// script mode off again.
#pragma once

#include <string>

class CCommandLineInfo2 {
 public:
  void Parse(int argc, const char* const* argv);
  // One argument: `isFlag` with the text after the option prefix.
  void ParseParam(const char* text, bool isFlag);

  bool m_bRunScript = false;
  std::string m_strScriptPath;

 private:
  using Handler = void (CCommandLineInfo2::*)(const char*);
  void OnScriptPath(const char* arg);

  Handler m_pfnPending = nullptr;
  int m_nArgCount = 0;
  bool m_bSwallowValue = false;  // the next argument is the value of an extra option
};

// True for the options of ours that take a value (--series, --pin-script,
// --render, --ticks, --adapter, --record, --seconds, --rate, --pins,
// --timeline, --gdb-port); their value is not a plain argument.
bool OptionTakesValue(const std::string& option);

// The first option on the command line that the program does not know
// (as written), or empty when there is none. Values of the options that
// take one are skipped ("--opt value" and "--opt=value"); the window
// system's own options (-platform NAME, -style NAME, -reverse, ...) are
// known too.
std::string UnknownOption(int argc, const char* const* argv);

// Splits an argument into (is option, option text). "-x" and "--x" are
// options; "/x" is one only when x is an option of the program (run_script
// or one of those that take a value), else it is a path, a plain argument.
bool IsOptionArgument(const char* arg, std::string& option);

// Runs `path` in a temporary user host (no adapter object, host name
// "Gadrel_User_Cmd", no pumping). 0 when the script loaded and ran, 1
// otherwise; errors are on standard error.
int RunCommandLineScript(const std::string& path);
