// The path of a file to open: a UTF-8 string, handed to the C runtime as is.
#pragma once

#include <string>
#include <utility>

class MFilePath {
 public:
  MFilePath() = default;
  explicit MFilePath(std::string path) : m_strPath(std::move(path)) {}
  explicit MFilePath(const char* path) : m_strPath(path ? path : "") {}

  const std::string& GetPath() const { return m_strPath; }
  const char* c_str() const { return m_strPath.c_str(); }
  bool IsEmpty() const { return m_strPath.empty(); }
  void SetPath(std::string path) { m_strPath = std::move(path); }

 private:
  std::string m_strPath;
};
