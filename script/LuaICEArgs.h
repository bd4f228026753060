// Helpers shared by the ice method groups (internal to the script host).
#pragma once

#include <stdexcept>

// An argument error detected where C++ objects are alive: thrown instead of
// raised, so the method dispatcher raises "<method>: argument error" after
// the objects are gone.
class CScriptArgumentError : public std::runtime_error {
 public:
  CScriptArgumentError() : std::runtime_error("argument error") {}
};
