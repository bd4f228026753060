// Small helpers for the script host tests: temp script files, running a
// chunk in a host's state, and a print sink that records what it gets.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <lua.hpp>

#include "script/CICECmd.h"
#include "script/PrintSink.h"
#include "tests/script/LuaFinalisers.h"

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gadrel-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    m_path = ::mkdtemp(buf.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    const auto p = m_path / name;
    std::ofstream(p) << text;
    return p.string();
  }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

class RecordingSink : public IPrintSink {
 public:
  void PrintText(std::string_view text) override { m_text.append(text); }
  std::string m_text;
};

// Runs `chunk` in the host's state; returns "" on success or the error text.
inline std::string RunChunk(CICECmd& host, const std::string& chunk) {
  lua_State* L = host.GetLuaState();
  if (L == nullptr) return "no state";
  const int top = lua_gettop(L);
  std::string err;
  if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    err = lua_isstring(L, -1) ? lua_tostring(L, -1) : "non-string error";
  }
  lua_settop(L, top);
  return err;
}

// Evaluates `expr` in the host's state and returns tostring() of the result.
inline std::string Eval(CICECmd& host, const std::string& expr) {
  lua_State* L = host.GetLuaState();
  const int top = lua_gettop(L);
  std::string out;
  if (luaL_loadstring(L, ("return tostring(" + expr + ")").c_str()) == 0 &&
      lua_pcall(L, 0, 1, 0) == 0) {
    out = lua_tostring(L, -1);
  } else {
    out = std::string("error: ") + (lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
  }
  lua_settop(L, top);
  return out;
}
