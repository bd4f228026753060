// One script host: owns one interpreter state, fills it with the libraries
// and objects of the pin-view set or the user set, runs script files, calls
// global script functions and stops a running script on request or when a
// call runs longer than the host's time limit.
//
// Everything the host does to its state from native code runs inside a
// protected call: any allocation may run a script's finaliser, and a
// finaliser that raises outside protection would end the process.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

struct lua_State;
class CICE;
class IUserInteraction;

class CICECmd {
 public:
  // The body of a protected call: a C function that finds its context as
  // the light userdata at stack index 1 (see CallProtected).
  using ProtectedBody = int (*)(lua_State*);

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
  // load or run error (text in GetLastScriptError and on standard error),
  // after an abort ("abort by host"; the state is then closed) and when the
  // run was stopped by the time limit (the state stays open with what the
  // script defined so far).
  bool RunScriptFile(const std::string& path, bool pumpMessages);

  // Calls global function `name`; each signature letter takes one variadic
  // argument: 'f' double, 'i' int, 'v' const std::vector<uint8_t>* (pushed as
  // a byte table), anything else const char* (pushed as a string). True only
  // when the function returned the boolean true.
  bool CallScriptFunction(const char* name, const char* signature, ...);

  // Runs `body` with `context` in a protected call, as every call into the
  // script does: message pumping off, the count hook in place, the time
  // limit running. `what` names the call in the time-limit message. True
  // when `body` returned normally; false without a state, when it raised
  // (its stack is dropped either way) or when the call was stopped.
  bool CallProtected(ProtectedBody body, void* context, const char* what);

  // Sets global `name` to a light userdata (remembered as what the host
  // published under that name) or to a string. False without a state or
  // name.
  bool SetGlobalObject(const char* name, void* object);
  bool SetGlobalString(const char* name, const char* value);
  // What SetGlobalObject last published under `name` in this state, or null.
  void* PublishedObject(const char* name) const;

  // Longest time one call into the script (a file run, a function call, a
  // protected call) may take before it is stopped; zero (the default) means
  // no limit. A stopped call ends with false and GetLastScriptError saying
  // so; the state stays open.
  void SetCallTimeLimit(std::chrono::milliseconds limit) { m_callTimeLimit = limit; }
  std::chrono::milliseconds CallTimeLimit() const { return m_callTimeLimit; }
  // True when the last call of this host was stopped by the time limit.
  bool LastCallTimedOut() const { return m_bLastCallTimedOut; }
  // How long a native call made by the script may still block before the
  // time limit is reached (zero while the script is being stopped); a large
  // value when no limit runs.
  std::chrono::milliseconds TimeLeft() const;
  // True while the count hook is stopping the running script (abort or time
  // limit): no script code may run then outside the hook's reach.
  bool IsStopping() const { return m_bAbort || m_bTimedOut; }
  // While an object of this class lives, the running call's time limit
  // stands still: a native call that waits for the user (a modal dialog, an
  // adapter choice) does not eat into the script's time. Keep it only
  // around native work that cannot raise a script error (no object with a
  // destructor may be skipped by a raise).
  class UserWait {
   public:
    explicit UserWait(lua_State* L);
    ~UserWait();
    UserWait(const UserWait&) = delete;
    UserWait& operator=(const UserWait&) = delete;

   private:
    CICECmd* m_pHost;
  };

  // Reads the clock for the running call's time limit; true when the script
  // is being stopped (the limit has passed, or an abort is pending).
  bool CheckTimeLimit();
  // Raises the stop in the running script and makes the count hook raise it
  // again at every instruction until the call has ended, so that a pcall in
  // the script cannot swallow it. Call it only while IsStopping().
  [[noreturn]] void RaiseStop(lua_State* L);

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
  bool OpenState(CICE* adapter, const char* hostName, const char* appDir, bool pinView);
  // Runs `body` in a protected call under the call guard; returns the
  // protected call's status. A raised error's text goes to `error` when
  // given.
  int Call(ProtectedBody body, void* context, const char* what, std::string* error = nullptr);
  static void CountHook(lua_State* L, struct lua_Debug* ar);
  void OnCount(lua_State* L);

  lua_State* m_pLuaState = nullptr;
  bool m_bRunning = false;
  bool m_bAbort = false;
  bool m_bPump = false;
  bool m_bClosePending = false;  // CloseScript came while the script ran
  bool m_bTimedOut = false;      // the running call passed its deadline
  bool m_bLastCallTimedOut = false;
  std::string m_strLastError;
  IUserInteraction* m_pUserInteraction = nullptr;
  std::chrono::steady_clock::time_point m_lastPump{};
  std::chrono::milliseconds m_callTimeLimit{0};
  std::chrono::steady_clock::time_point m_deadline{};
  bool m_bDeadline = false;  // m_deadline applies to the running call
  int m_nCallDepth = 0;
  int m_nClockTicks = 0;     // hook calls since the clock was last read
  int m_nUserWaitDepth = 0;  // UserWait objects alive
  std::chrono::steady_clock::time_point m_userWaitStart{};  // of the outermost
  std::vector<std::pair<std::string, void*>> m_published;
};
