// One script host: owns one interpreter state, fills it with the libraries
// and objects of the pin-view set or the user set, runs script files, calls
// global script functions and stops a running script on request.
#pragma once

#include <chrono>
#include <string>

struct lua_State;
class CICE;
class IUserInteraction;

class CICECmd {
 public:
  CICECmd();
  virtual ~CICECmd();
  CICECmd(const CICECmd&) = delete;
  CICECmd& operator=(const CICECmd&) = delete;

  // Opens a fresh pin-view state: base, package, table, io, os, string, math,
  // debug, ext (pin-view variant), `ice` when `adapter` is given, `pn` with
  // its family entries, SCRIPT_APP_HOST / SCRIPT_APP_DIR when given. False
  // only when no state can be created.
  bool InitScript(CICE* adapter, const char* hostName, const char* appDir);

  // Opens a fresh user-script state: the user variant of ext, `VoLink` when
  // `adapter` is given, `print` = ext.redirect_print_user, no `pn`.
  bool InitUserScript(CICE* adapter, const char* hostName, const char* appDir);

  // Loads and runs a script file (UTF-8 path). With `pumpMessages` the count
  // hook keeps the user interface alive while the script runs. False on a
  // load or run error (text in GetLastScriptError and on standard error) and
  // after an abort ("abort by host"; the state is then closed).
  bool RunScriptFile(const std::string& path, bool pumpMessages);

  // Calls global function `name`; each signature letter takes one variadic
  // argument: 'f' double, 'i' int, 'v' const std::vector<uint8_t>* (pushed as
  // a byte table), anything else const char* (pushed as a string). True only
  // when the function returned the boolean true.
  bool CallScriptFunction(const char* name, const char* signature, ...);

  // Sets global `name` to a light userdata. False without a state or name.
  bool SetGlobalObject(const char* name, void* object);

  void CloseScript();
  void RequestAbort();
  bool IsScriptRunning() const { return m_bRunning; }
  const std::string& GetLastScriptError() const { return m_strLastError; }
  lua_State* GetLuaState() const { return m_pLuaState; }

  // Dialogs and the event pump used while a script runs with pumping. May be
  // null (no dialogs; pumping does nothing).
  void SetUserInteraction(IUserInteraction* ui) { m_pUserInteraction = ui; }
  IUserInteraction* GetUserInteraction() const { return m_pUserInteraction; }

  // The host that owns state `L` (any coroutine of it), or null.
  static CICECmd* FromState(lua_State* L);

 private:
  bool OpenState();
  static void CountHook(lua_State* L, struct lua_Debug* ar);
  void OnCount(lua_State* L);

  lua_State* m_pLuaState = nullptr;
  bool m_bRunning = false;
  bool m_bAbort = false;
  bool m_bPump = false;
  bool m_bClosePending = false;  // CloseScript came while the script ran
  std::string m_strLastError;
  IUserInteraction* m_pUserInteraction = nullptr;
  std::chrono::steady_clock::time_point m_lastPump{};
};
