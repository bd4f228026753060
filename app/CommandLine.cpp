#include "app/CommandLine.h"

#include <cstdio>
#include <set>

#include "script/CICECmd.h"

namespace {

// Options of the window system that QApplication takes off the command line.
bool IsWindowSystemOption(const std::string& option, bool& takesValue) {
  static const std::set<std::string> kWithValue = {"platform",        "platformpluginpath", "platformtheme",
                                                   "plugin",          "style",              "stylesheet",
                                                   "qwindowgeometry", "qwindowtitle",       "qwindowicon",
                                                   "display",         "geometry"};
  takesValue = kWithValue.count(option) != 0;
  return takesValue || option == "reverse";
}

}  // namespace

bool OptionTakesValue(const std::string& option) {
  return option == "series" || option == "pin-script" || option == "render" || option == "ticks" ||
         option == "adapter" || option == "record" || option == "seconds" || option == "rate" || option == "pins" ||
         option == "timeline" || option == "zoom" || option == "gdb-port";
}

std::string UnknownOption(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string option;
    if (!IsOptionArgument(argv[i], option)) continue;
    if (option == "run_script" || option == "list-adapters" || option == "version" || option == "help" ||
        option == "h") {
      continue;
    }
    // "--opt=value" only for the options that take a value.
    const auto eq = option.find('=');
    const bool inlineValue = eq != std::string::npos;
    const std::string name = option.substr(0, eq);
    bool windowValue = false;
    const bool windowOption = IsWindowSystemOption(name, windowValue);
    const bool takesValue = OptionTakesValue(name) || windowValue;
    if (inlineValue ? !takesValue : !(takesValue || windowOption)) return argv[i];
    if (takesValue && !inlineValue) ++i;  // its value
  }
  return {};
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
