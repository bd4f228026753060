#include "script/CICECmd.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <lua.hpp>

#include "platform/UserInteraction.h"
#include "script/CPartNum.h"
#include "script/ExtLib.h"
#include "script/LuaICE.h"
#include "script/LuaPartNum.h"
#include "script/ScriptBinding.h"

namespace {

constexpr int kHookCount = 20;
constexpr auto kPumpInterval = std::chrono::milliseconds(5);
constexpr const char* kAbortText = "abort by host";

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
               lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
  return 0;
}

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

void SetGlobalString(lua_State* L, const char* name, const char* value) {
  if (value == nullptr) return;
  lua_pushstring(L, value);
  SetGlobalRaw(L, name);
}

// Text of the error value on top of the stack.
std::string ErrorText(lua_State* L) {
  if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
    size_t len = 0;
    const char* s = lua_tolstring(L, -1, &len);
    return std::string(s, len);
  }
  return std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
}

// Everything before the last '\' or '/', or the whole path without either.
std::string DirectoryOf(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(0, cut);
}

}  // namespace

CICECmd::CICECmd() = default;

CICECmd::~CICECmd() {
  if (m_pLuaState != nullptr) {
    lua_close(m_pLuaState);
    m_pLuaState = nullptr;
  }
}

CICECmd* CICECmd::FromState(lua_State* L) {
  void* ud = nullptr;
  if (L == nullptr || lua_getallocf(L, &ud) != HostAlloc) return nullptr;
  return static_cast<CICECmd*>(ud);
}

bool CICECmd::OpenState() {
  if (m_bRunning) return false;  // a running state cannot be replaced under the script
  CloseScript();
  m_pLuaState = lua_newstate(HostAlloc, this);
  if (m_pLuaState == nullptr) return false;
  lua_atpanic(m_pLuaState, Panic);
  m_bRunning = m_bAbort = m_bPump = false;
  return true;
}

bool CICECmd::InitScript(CICE* adapter, const char* hostName, const char* appDir) {
  if (!OpenState()) return false;
  lua_State* L = m_pLuaState;
  OpenStandardLibraries(L);
  OpenLibrary(L, "ext", OpenExtPinView);
  if (adapter != nullptr) RegisterScriptType(L, LuaICEType(), adapter);
  RegisterScriptType(L, LuaPartNumType(), nullptr);
  SetGlobalObject("CICECmd_HOOK_OBJECT", this);
  lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookCount);
  if (adapter != nullptr) RunChunk(L, "ice = LuaICE__();");
  RunChunk(L, "pn = LuaPartNum__();");
  for (size_t i = 0; i < PartFamilyCount(); ++i) {
    char chunk[256] = {0};
    std::snprintf(chunk, sizeof chunk, "pn[\"%s\"] = %d;", PartFamilyName(i), static_cast<int>(i));
    RunChunk(L, chunk);
  }
  SetGlobalString(L, "SCRIPT_APP_HOST", hostName);
  SetGlobalString(L, "SCRIPT_APP_DIR", appDir);
  return true;
}

bool CICECmd::InitUserScript(CICE* adapter, const char* hostName, const char* appDir) {
  if (!OpenState()) return false;
  lua_State* L = m_pLuaState;
  OpenStandardLibraries(L);
  OpenLibrary(L, "ext", OpenExtUser);
  if (adapter != nullptr) RegisterScriptType(L, LuaICEUserType(), adapter);
  SetGlobalObject("CICECmd_HOOK_OBJECT", this);
  lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookCount);
  if (adapter != nullptr) RunChunk(L, "VoLink = LuaICE_User__();");
  RunChunk(L, "print = ext.redirect_print_user;");
  SetGlobalString(L, "SCRIPT_APP_HOST", hostName);
  SetGlobalString(L, "SCRIPT_APP_DIR", appDir);
  return true;
}

bool CICECmd::RunScriptFile(const std::string& path, bool pumpMessages) {
  if (m_pLuaState == nullptr || m_bRunning) return false;
  lua_State* L = m_pLuaState;
  m_bRunning = true;
  m_bAbort = false;
  m_bPump = pumpMessages;
  m_lastPump = std::chrono::steady_clock::now();

  const int top = lua_gettop(L);
  const std::string dir = DirectoryOf(path);
  lua_pushlstring(L, dir.data(), dir.size());
  SetGlobalRaw(L, "SCRIPT_DIRECTORY");

  int rc = luaL_loadfile(L, path.c_str());
  if (rc == 0) rc = lua_pcall(L, 0, LUA_MULTRET, 0);

  m_bRunning = false;
  m_bPump = false;
  bool ok = rc == 0;
  if ((!ok && m_bAbort) || m_bClosePending) {
    ok = false;
    m_bClosePending = false;
    CloseScript();
    m_strLastError = kAbortText;
  } else if (!ok) {
    m_strLastError = ErrorText(L);
    std::fprintf(stderr, "%s\n", m_strLastError.c_str());
    std::fflush(stderr);
  } else {
    m_strLastError.clear();
  }
  if (m_pLuaState != nullptr) {
    lua_settop(L, top);  // results and the error value are not kept
    m_bAbort = false;
  }
  return ok;
}

bool CICECmd::CallScriptFunction(const char* name, const char* signature, ...) {
  if (m_pLuaState == nullptr || name == nullptr) return false;
  lua_State* L = m_pLuaState;
  m_bPump = false;
  const int top = lua_gettop(L);
  PushGlobalProtected(L, name);
  int nargs = 0;
  va_list args;
  va_start(args, signature);
  for (const char* p = signature ? signature : ""; *p; ++p, ++nargs) {
    switch (*p) {
      case 'f':
        lua_pushnumber(L, va_arg(args, double));
        break;
      case 'i':
        lua_pushinteger(L, va_arg(args, int));
        break;
      case 'v': {
        const auto* bytes = va_arg(args, const std::vector<uint8_t>*);
        if (bytes != nullptr) {
          PushByteTable(L, *bytes);
        } else {
          PushByteTable(L, {});
        }
        break;
      }
      default: {
        const char* s = va_arg(args, const char*);
        if (s != nullptr) {
          lua_pushstring(L, s);
        } else {
          lua_pushnil(L);
        }
      }
    }
  }
  va_end(args);
  const int rc = lua_pcall(L, nargs, 1, 0);
  if (rc != 0 && m_bAbort && !m_bRunning) {
    CloseScript();
    m_strLastError = kAbortText;
    return false;
  }
  const bool result = rc == 0 && lua_isboolean(L, -1) && lua_toboolean(L, -1);
  lua_settop(L, top);
  return result;
}

bool CICECmd::SetGlobalObject(const char* name, void* object) {
  if (m_pLuaState == nullptr || name == nullptr) return false;
  lua_pushlightuserdata(m_pLuaState, object);
  SetGlobalRaw(m_pLuaState, name);
  return true;
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
}

void CICECmd::RequestAbort() {
  if (m_pLuaState != nullptr) m_bAbort = true;
}

void CICECmd::CountHook(lua_State* L, lua_Debug* ar) {
  if (ar->event != LUA_HOOKCOUNT) return;
  CICECmd* host = FromState(L);
  if (host != nullptr) host->OnCount(L);
}

void CICECmd::OnCount(lua_State* L) {
  if (m_bAbort) {
    // Fire again at the very next instruction, so a pcall in the script
    // cannot swallow the abort: every catch is followed by another raise.
    lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
    lua_pushstring(L, kAbortText);
    lua_error(L);
  }
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
