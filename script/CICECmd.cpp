#include "script/CICECmd.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <lua.hpp>

#include "platform/UserInteraction.h"
#include "script/CPartNum.h"
#include "script/ExtLib.h"
#include "script/LuaICE.h"
#include "script/LuaPartNum.h"
#include "script/ScriptBinding.h"

// Every function below that takes the state and runs inside a protected call
// holds no object with a destructor in its frame while it calls the
// interpreter: an error leaves such frames with a jump.

namespace {

constexpr int kHookCount = 20;
// The count hook reads the clock only every this many calls (about 300
// instructions), which keeps the common path at flag tests.
constexpr int kTicksPerClockRead = 16;
constexpr auto kPumpInterval = std::chrono::milliseconds(5);
constexpr const char* kAbortText = "abort by host";
constexpr const char* kTimeLimitText = "stopped by the time limit";

// The standard allocator. The host rides along as its user data, where the
// count hook finds it without a table lookup and where no script reaches.
void* HostAlloc(void* /*ud*/, void* ptr, size_t /*osize*/, size_t nsize) {
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  return std::realloc(ptr, nsize);
}

int Panic(lua_State* L) {
  std::fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n",
               lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "?");
  return 0;
}

// Text of the error value at `idx`. Allocates nothing in the state, so it
// may run outside a protected call.
std::string ErrorText(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TSTRING: {
      size_t len = 0;
      const char* s = lua_tolstring(L, idx, &len);
      return std::string(s, len);
    }
    case LUA_TNUMBER: {
      char text[64];
      std::snprintf(text, sizeof text, LUA_NUMBER_FMT, lua_tonumber(L, idx));
      return text;
    }
    default:
      return std::string("(error object is a ") + lua_typename(L, lua_type(L, idx)) + " value)";
  }
}

// The script's folder, absolute: everything before the last '\' or '/' (a
// bare file name is in the current folder), made absolute against the
// current folder, without "." and ".." steps or a trailing separator.
std::string DirectoryOf(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  const std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
  if (ec) return dir;
  std::string out = absolute.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

template <class T>
T& ContextOf(lua_State* L) {
  return *static_cast<T*>(lua_touserdata(L, 1));
}

// ---- state set-up (runs protected) ----

// Compiles and runs a set-up chunk; failures are ignored.
void RunChunk(lua_State* L, const char* chunk) {
  const int top = lua_gettop(L);
  if (luaL_loadstring(L, chunk) == 0) lua_pcall(L, 0, LUA_MULTRET, 0);
  lua_settop(L, top);
}

void OpenLibrary(lua_State* L, const char* name, lua_CFunction opener) {
  const int top = lua_gettop(L);
  lua_pushcfunction(L, opener);
  lua_pushstring(L, name);
  lua_pcall(L, 1, 0, 0);
  lua_settop(L, top);
}

void OpenStandardLibraries(lua_State* L) {
  OpenLibrary(L, "", luaopen_base);
  OpenLibrary(L, LUA_LOADLIBNAME, luaopen_package);
  OpenLibrary(L, LUA_TABLIBNAME, luaopen_table);
  OpenLibrary(L, LUA_IOLIBNAME, luaopen_io);
  OpenLibrary(L, LUA_OSLIBNAME, luaopen_os);
  OpenLibrary(L, LUA_STRLIBNAME, luaopen_string);
  OpenLibrary(L, LUA_MATHLIBNAME, luaopen_math);
  OpenLibrary(L, LUA_DBLIBNAME, luaopen_debug);
}

// debug.sethook of a host state: the host's count hook stays. A hook of the
// script's own would replace it (and with it the abort, the time limit and
// the pumping), and it would run with hooks switched off, where nothing can
// stop it.
int KeepHostHook(lua_State*) { return 0; }

// The error handler that a host's xpcall installs: the script's handler,
// except while the host stops the script. The stop is raised from inside
// the count hook, where hooks are switched off; a script handler called
// there could loop for ever.
int GuardedHandler(lua_State* L) {
  const CICECmd* host = CICECmd::FromState(L);
  if (host != nullptr && host->IsStopping()) return 1;  // the error, unchanged
  if (!lua_isfunction(L, lua_upvalueindex(1))) {
    lua_pushliteral(L, "error in error handling");
    return 1;
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, 1);
  return 1;
}

// xpcall(f, handler) as the base library has it, with the handler guarded.
int HostXpcall(lua_State* L) {
  luaL_checkany(L, 2);
  lua_settop(L, 2);
  lua_pushcclosure(L, GuardedHandler, 1);  // the handler becomes its upvalue
  lua_insert(L, 1);                        // handler under the function
  const int status = lua_pcall(L, 0, LUA_MULTRET, 1);
  lua_pushboolean(L, status == 0);
  lua_replace(L, 1);
  return lua_gettop(L);
}

// Keeps the host's count hook out of the script's reach (see above).
void GuardHostHook(lua_State* L) {
  lua_pushcfunction(L, HostXpcall);
  SetGlobalRaw(L, "xpcall");
  lua_getfield(L, LUA_GLOBALSINDEX, LUA_DBLIBNAME);
  if (lua_istable(L, -1)) {
    lua_pushcfunction(L, KeepHostHook);
    lua_setfield(L, -2, "sethook");
  }
  lua_pop(L, 1);
}

void SetGlobalText(lua_State* L, const char* name, const char* value) {
  if (value == nullptr) return;
  lua_pushstring(L, value);
  SetGlobalRaw(L, name);
}

struct SetUpContext {
  CICECmd* host;
  CICE* adapter;
  const char* hostName;
  const char* appDir;
  bool pinView;
  lua_Hook hook;
};

// Fills a fresh state, pin-view set or user set, in the order the host
// promises.
int SetUpState(lua_State* L) {
  const auto& c = ContextOf<SetUpContext>(L);
  OpenStandardLibraries(L);
  OpenLibrary(L, "ext", c.pinView ? OpenExtPinView : OpenExtUser);
  GuardHostHook(L);
  if (c.adapter != nullptr) RegisterScriptType(L, c.pinView ? LuaICEType() : LuaICEUserType(), c.adapter);
  if (c.pinView) RegisterScriptType(L, LuaPartNumType(), nullptr);
  lua_pushlightuserdata(L, c.host);
  SetGlobalRaw(L, "CICECmd_HOOK_OBJECT");
  lua_sethook(L, c.hook, LUA_MASKCOUNT, kHookCount);
  if (c.pinView) {
    if (c.adapter != nullptr) RunChunk(L, "ice = LuaICE__();");
    RunChunk(L, "pn = LuaPartNum__();");
    for (size_t i = 0; i < PartFamilyCount(); ++i) {
      char chunk[256] = {0};
      std::snprintf(chunk, sizeof chunk, "pn[\"%s\"] = %d;", PartFamilyName(i), static_cast<int>(i));
      RunChunk(L, chunk);
    }
  } else {
    if (c.adapter != nullptr) RunChunk(L, "VoLink = LuaICE_User__();");
    RunChunk(L, "print = ext.redirect_print_user;");
  }
  SetGlobalText(L, "SCRIPT_APP_HOST", c.hostName);
  SetGlobalText(L, "SCRIPT_APP_DIR", c.appDir);
  return 0;
}

// ---- calls into the script (run protected) ----

struct RunFileContext {
  const char* path;
  const char* dir;
  size_t dirLength;
};

int RunFile(lua_State* L) {
  const auto& c = ContextOf<RunFileContext>(L);
  lua_pushlstring(L, c.dir, c.dirLength);
  SetGlobalRaw(L, "SCRIPT_DIRECTORY");
  if (luaL_loadfile(L, c.path) != 0) return lua_error(L);
  lua_call(L, 0, 0);
  return 0;
}

struct CallContext {
  const char* name;
  const char* signature;
  va_list* args;
  bool result;
};

int CallFunction(lua_State* L) {
  auto& c = ContextOf<CallContext>(L);
  const int nargs = static_cast<int>(std::strlen(c.signature));
  luaL_checkstack(L, nargs + 2, "too many arguments");
  lua_getglobal(L, c.name);
  for (const char* p = c.signature; *p; ++p) {
    switch (*p) {
      case 'f':
        lua_pushnumber(L, va_arg(*c.args, double));
        break;
      case 'i':
        lua_pushinteger(L, va_arg(*c.args, int));
        break;
      case 'v': {
        const auto* bytes = va_arg(*c.args, const std::vector<uint8_t>*);
        if (bytes != nullptr) {
          PushByteTable(L, *bytes);
        } else {
          PushByteTable(L, {});
        }
        break;
      }
      default: {
        const char* s = va_arg(*c.args, const char*);
        if (s != nullptr) {
          lua_pushstring(L, s);
        } else {
          lua_pushnil(L);
        }
      }
    }
  }
  lua_call(L, nargs, 1);
  c.result = lua_isboolean(L, -1) && lua_toboolean(L, -1);
  return 0;
}

struct SetGlobalContext {
  const char* name;
  void* object;
  const char* text;  // set: a string global; else the light userdata `object`
};

int SetGlobal(lua_State* L) {
  const auto& c = ContextOf<SetGlobalContext>(L);
  if (c.text != nullptr) {
    lua_pushstring(L, c.text);
  } else {
    lua_pushlightuserdata(L, c.object);
  }
  SetGlobalRaw(L, c.name);
  return 0;
}

}  // namespace

CICECmd::CICECmd() = default;

CICECmd::~CICECmd() {
  if (m_pLuaState != nullptr) {
    lua_close(m_pLuaState);  // runs the finalisers protected
    m_pLuaState = nullptr;
  }
}

CICECmd* CICECmd::FromState(lua_State* L) {
  void* ud = nullptr;
  if (L == nullptr || lua_getallocf(L, &ud) != HostAlloc) return nullptr;
  return static_cast<CICECmd*>(ud);
}

bool CICECmd::OpenState(CICE* adapter, const char* hostName, const char* appDir, bool pinView) {
  if (m_bRunning) return false;  // a running state cannot be replaced under the script
  CloseScript();
  m_pLuaState = lua_newstate(HostAlloc, this);
  if (m_pLuaState == nullptr) return false;
  lua_atpanic(m_pLuaState, Panic);
  m_bRunning = m_bAbort = m_bPump = m_bTimedOut = m_bLastCallTimedOut = false;
  m_published.clear();
  SetUpContext context{this, adapter, hostName, appDir, pinView, CountHook};
  // A failure here (out of memory) leaves a partly filled state, as a
  // failing set-up chunk does.
  const int top = lua_gettop(m_pLuaState);
  lua_cpcall(m_pLuaState, SetUpState, &context);
  lua_settop(m_pLuaState, top);
  return true;
}

bool CICECmd::InitScript(CICE* adapter, const char* hostName, const char* appDir) {
  return OpenState(adapter, hostName, appDir, true);
}

bool CICECmd::InitUserScript(CICE* adapter, const char* hostName, const char* appDir) {
  return OpenState(adapter, hostName, appDir, false);
}

int CICECmd::Call(ProtectedBody body, void* context, const char* what, std::string* error) {
  lua_State* L = m_pLuaState;
  const bool outer = m_nCallDepth++ == 0;
  if (outer) {
    m_bLastCallTimedOut = false;
    m_bDeadline = m_callTimeLimit.count() > 0;
    m_deadline = std::chrono::steady_clock::now() + m_callTimeLimit;
    m_nClockTicks = 0;
  }
  // The hook is the host's own; a script cannot remove it, and a stop in
  // progress keeps its own faster setting.
  if (!IsStopping()) lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookCount);

  const int top = lua_gettop(L);
  const int rc = lua_cpcall(L, body, context);
  if (rc != 0 && error != nullptr) *error = ErrorText(L, -1);
  lua_settop(L, top);

  if (--m_nCallDepth == 0) {
    m_bDeadline = false;
    if (m_bTimedOut) {
      m_bTimedOut = false;
      m_bLastCallTimedOut = true;
      lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookCount);
      char text[512];
      std::snprintf(text, sizeof text, "%s: stopped after running longer than the time limit of %g s", what,
                    static_cast<double>(m_callTimeLimit.count()) / 1000.0);
      m_strLastError = text;
    }
  }
  return rc;
}

bool CICECmd::RunScriptFile(const std::string& path, bool pumpMessages) {
  if (m_pLuaState == nullptr || m_bRunning) return false;
  m_bRunning = true;
  m_bAbort = false;
  m_bPump = pumpMessages;
  m_lastPump = std::chrono::steady_clock::now();

  const std::string dir = DirectoryOf(path);
  RunFileContext context{path.c_str(), dir.data(), dir.size()};
  std::string error;
  const int rc = Call(RunFile, &context, path.c_str(), &error);

  m_bRunning = false;
  m_bPump = false;
  bool ok = rc == 0;
  if ((!ok && m_bAbort) || m_bClosePending) {
    ok = false;
    m_bClosePending = false;
    CloseScript();
    m_strLastError = kAbortText;
  } else if (!ok) {
    if (!m_bLastCallTimedOut) m_strLastError = error;
    std::fprintf(stderr, "%s\n", m_strLastError.c_str());
    std::fflush(stderr);
  } else {
    m_strLastError.clear();
  }
  m_bAbort = false;
  return ok;
}

bool CICECmd::CallProtected(ProtectedBody body, void* context, const char* what) {
  if (m_pLuaState == nullptr) return false;
  const bool pump = m_bPump;
  m_bPump = false;
  const int rc = Call(body, context, what);
  m_bPump = pump;
  if (rc != 0 && m_bAbort && !m_bRunning) {
    CloseScript();
    m_strLastError = kAbortText;
  }
  return rc == 0;
}

bool CICECmd::CallScriptFunction(const char* name, const char* signature, ...) {
  if (m_pLuaState == nullptr || name == nullptr) return false;
  va_list args;
  va_start(args, signature);
  CallContext context{name, signature != nullptr ? signature : "", &args, false};
  const bool called = CallProtected(CallFunction, &context, name);
  va_end(args);
  return called && context.result;
}

bool CICECmd::SetGlobalObject(const char* name, void* object) {
  if (m_pLuaState == nullptr || name == nullptr) return false;
  SetGlobalContext context{name, object, nullptr};
  if (Call(SetGlobal, &context, name) != 0) return false;
  const auto it = std::find_if(m_published.begin(), m_published.end(),
                               [&](const auto& p) { return p.first == name; });
  if (it != m_published.end()) {
    it->second = object;
  } else {
    m_published.emplace_back(name, object);
  }
  return true;
}

bool CICECmd::SetGlobalString(const char* name, const char* value) {
  if (m_pLuaState == nullptr || name == nullptr || value == nullptr) return false;
  SetGlobalContext context{name, nullptr, value};
  return Call(SetGlobal, &context, name) == 0;
}

void* CICECmd::PublishedObject(const char* name) const {
  for (const auto& [published, object] : m_published) {
    if (published == name) return object;
  }
  return nullptr;
}

std::chrono::milliseconds CICECmd::TimeLeft() const {
  using std::chrono::milliseconds;
  if (IsStopping()) return milliseconds(0);
  if (!m_bDeadline) return milliseconds::max();
  const auto left = std::chrono::ceil<milliseconds>(m_deadline - std::chrono::steady_clock::now());
  return std::max(left, milliseconds(0));
}

void CICECmd::CloseScript() {
  if (m_pLuaState == nullptr) return;
  if (m_bRunning) {
    // The script is still on the stack below us: stop it, and let the run
    // that owns the state close it once the script has unwound.
    m_bAbort = true;
    m_bClosePending = true;
    return;
  }
  lua_close(m_pLuaState);
  m_pLuaState = nullptr;
  m_published.clear();
}

void CICECmd::RequestAbort() {
  if (m_pLuaState != nullptr) m_bAbort = true;
}

void CICECmd::CountHook(lua_State* L, lua_Debug* ar) {
  if (ar->event != LUA_HOOKCOUNT) return;
  CICECmd* host = FromState(L);
  if (host != nullptr) host->OnCount(L);
}

CICECmd::UserWait::UserWait(lua_State* L) : m_pHost(FromState(L)) {
  if (m_pHost != nullptr && m_pHost->m_nUserWaitDepth++ == 0)
    m_pHost->m_userWaitStart = std::chrono::steady_clock::now();
}

CICECmd::UserWait::~UserWait() {
  // The deadline moves on by the whole time of the outermost wait.
  if (m_pHost == nullptr || --m_pHost->m_nUserWaitDepth != 0) return;
  if (m_pHost->m_bDeadline)
    m_pHost->m_deadline += std::chrono::steady_clock::now() - m_pHost->m_userWaitStart;
}

bool CICECmd::CheckTimeLimit() {
  if (m_bDeadline && m_nUserWaitDepth == 0 && std::chrono::steady_clock::now() >= m_deadline)
    m_bTimedOut = true;
  return IsStopping();
}

void CICECmd::RaiseStop(lua_State* L) {
  // Fire again at the very next instruction: every catch is followed by
  // another raise.
  lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
  lua_pushstring(L, m_bAbort ? kAbortText : kTimeLimitText);
  lua_error(L);
  std::abort();  // lua_error does not return
}

void CICECmd::OnCount(lua_State* L) {
  if (m_bDeadline && ++m_nClockTicks >= kTicksPerClockRead) {
    m_nClockTicks = 0;
    CheckTimeLimit();
  }
  if (IsStopping()) RaiseStop(L);
  if (!m_bPump || m_pUserInteraction == nullptr) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - m_lastPump < kPumpInterval) return;
  m_lastPump = now;
  try {
    m_pUserInteraction->PumpEvents();
  } catch (...) {
    // An event handler must not unwind through the interpreter.
  }
}
