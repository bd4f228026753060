#include "app/CommandLine.h"

#include <cstdio>

#include "script/CICECmd.h"

bool OptionTakesValue(const std::string& option) {
  return option == "series" || option == "pin-script" || option == "render" || option == "ticks" ||
         option == "record" || option == "seconds" || option == "rate" || option == "pins" || option == "timeline" ||
         option == "gdb-port";
}

bool IsOptionArgument(const char* arg, std::string& option) {
  const std::string s(arg);
  if (s.size() < 2) return false;
  if (s[0] == '-') {
    option = s.substr(s[1] == '-' ? 2 : 1);
    return true;
  }
  // Here a leading slash starts a path as often as an option: only the
  // options the program knows count as options.
  if (s[0] == '/' && (s.substr(1) == "run_script" || OptionTakesValue(s.substr(1)))) {
    option = s.substr(1);
    return true;
  }
  return false;
}

void CCommandLineInfo2::Parse(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string option;
    if (m_bSwallowValue) {
      m_bSwallowValue = false;
      continue;
    }
    if (IsOptionArgument(argv[i], option)) {
      ParseParam(option.c_str(), true);
      m_bSwallowValue = OptionTakesValue(option);
    } else {
      ParseParam(argv[i], false);
    }
  }
}

void CCommandLineInfo2::ParseParam(const char* text, bool isFlag) {
  if (isFlag) {
    m_pfnPending = nullptr;
    m_nArgCount = 0;
    if (std::string(text) == "run_script") {
      m_pfnPending = &CCommandLineInfo2::OnScriptPath;
      m_bRunScript = true;
    }
    return;
  }
  if (m_pfnPending != nullptr) {
    (this->*m_pfnPending)(text);
  } else {
    m_bRunScript = false;
  }
}

void CCommandLineInfo2::OnScriptPath(const char* arg) {
  if (m_nArgCount == 0) m_strScriptPath = arg;
  ++m_nArgCount;
}

int RunCommandLineScript(const std::string& path) {
  CICECmd host;
  if (!host.InitUserScript(nullptr, "Gadrel_User_Cmd", nullptr)) {
    std::fprintf(stderr, "gadrel: cannot create a script state\n");
    return 1;
  }
  return host.RunScriptFile(path, false) ? 0 : 1;
}
