// The one error type of the adapter command layer: a message and a code.
// Every exception the layer throws carries code 0; the adapter's own error
// code is kept by CICE (GetLastErrorCode).
#pragma once

#include <exception>
#include <string>

class CICEException : public std::exception {
 public:
  explicit CICEException(std::string message, int code = 0)
      : m_strMessage(std::move(message)), m_nCode(code) {}
  ~CICEException() override = default;

  virtual const char* GetMessage() const { return m_strMessage.c_str(); }
  virtual int GetCode() const { return m_nCode; }
  const char* what() const noexcept override { return m_strMessage.c_str(); }

 private:
  std::string m_strMessage;
  int m_nCode;
};
