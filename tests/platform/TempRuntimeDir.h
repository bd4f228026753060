// Gives each test its own per-user folder: XDG_RUNTIME_DIR points at a fresh
// temporary directory for the test's lifetime (child processes inherit it).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRuntimeDir {
 public:
  TempRuntimeDir() {
    char tmpl[] = "/tmp/gadrel-rt-XXXXXX";
    m_dir = ::mkdtemp(tmpl);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    m_hadOld = old != nullptr;
    if (old) m_old = old;
    ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  }
  ~TempRuntimeDir() {
    if (m_hadOld) ::setenv("XDG_RUNTIME_DIR", m_old.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  const std::string& Path() const { return m_dir; }
  std::string Objects() const { return m_dir + "/korvane"; }

 private:
  std::string m_dir, m_old;
  bool m_hadOld = false;
};
