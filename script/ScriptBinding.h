// Binding native objects to scripts.
//
// A script object is a plain table: key 0 holds a one-pointer userdata that
// owns the native wrapper (its metatable, kept in the registry under the
// type name, has __gc and my_param__); every method name holds a C closure
// whose upvalue is the method's index in the type's method table; every
// constant name holds the constant as an unsigned 32-bit number.
//
// A type plugs in with a ScriptObjectType: its name, a method table, a
// constant table and a factory that makes the wrapper for my_param__. The
// tables are the one description of what a script sees: the objects, the
// argument errors (named after the table entry), the help listing and the
// scripting reference (ScriptReference.h) are all made from them.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct lua_State;

// Base of every native wrapper owned by a script object.
class CLuaObject {
 public:
  virtual ~CLuaObject() = default;
};

using ScriptMethodFn = int (*)(CLuaObject& self, lua_State* L);

// One method of a script object. `args` is the argument form as a script
// writes it ("address, [count]"; brackets mark optional arguments), `results`
// what it returns, `description` one or two sentences for the reference.
struct ScriptMethod {
  const char* name = nullptr;
  ScriptMethodFn call = nullptr;
  const char* args = "";
  const char* results = "";
  const char* description = "";
};

struct ScriptConstant {
  const char* name = nullptr;
  uint32_t value = 0;
  const char* description = "";
};

struct ScriptObjectType {
  const char* typeName;  // registry metatable name and constructor global
  std::span<const ScriptMethod> methods;
  std::span<const ScriptConstant> constants;
  std::unique_ptr<CLuaObject> (*create)(void* param);  // param = my_param__
};

// Adapts a member operation `int W::M(lua_State*)` to a method-table entry.
template <class W, int (W::*M)(lua_State*)>
int ScriptMember(CLuaObject& self, lua_State* L) {
  return (static_cast<W&>(self).*M)(L);
}

// A method-table entry whose script name is the member's own name:
// SCRIPT_METHOD(CLuaICE, ReadReg, "register", "number", "Reads ...").
#define SCRIPT_METHOD(Wrapper, Member, ...) \
  ScriptMethod { #Member, ScriptMember<Wrapper, &Wrapper::Member>, __VA_ARGS__ }

// A constant-table entry bound to the enumerator or constant of the same
// name: SCRIPT_CONSTANT(RESET_AUTO, "..."). Negative values read as their
// unsigned 32-bit pattern.
#define SCRIPT_CONSTANT(Name, ...) \
  ScriptConstant { #Name, static_cast<uint32_t>(Name), __VA_ARGS__ }

// Sets the global constructor `type.typeName` and prepares the registry
// metatable with __gc and my_param__ = `param`. The type must outlive `L`.
void RegisterScriptType(lua_State* L, const ScriptObjectType& type, void* param);

// Sets global `name` to the value on top of the stack (popped), bypassing any
// metatable a script gave the globals table. It allocates, so, like every
// call that may allocate, it belongs inside a protected call.
void SetGlobalRaw(lua_State* L, const char* name);

// ---- argument and result conventions shared by every method ----

// Converts a script number to a 32-bit word: rounds half away from zero and
// keeps the low 32 bits. False for NaN, infinities and magnitudes of 2^63 or
// more, which have no 64-bit integer to take the low bits of.
bool NumberToU32(double x, uint32_t& out);

// Argument `idx` as a 32-bit word when it passes the number test (numbers and
// numeric strings) and converts; false otherwise.
bool ArgU32(lua_State* L, int idx, uint32_t& out);

// Pushes a 32-bit word as an unsigned number.
void PushU32(lua_State* L, uint32_t v);

// Pushes a byte (or word) array as a table: key 0 = -1, keys 1..n = data.
void PushByteTable(lua_State* L, std::span<const uint8_t> bytes);
void PushWordTable(lua_State* L, std::span<const uint32_t> words);

// The numeric values of table `idx` in traversal order, skipping entries whose
// key or value is not a number, each converted with NumberToU32 (values that
// do not convert are skipped too).
std::vector<uint32_t> TableNumbers(lua_State* L, int idx);

// A required argument failed its test. Methods throw it (through
// ArgumentError) before any adapter traffic; the method dispatcher turns it
// into the script error "<method>: argument error", naming the method by its
// table entry, once the method's C++ objects are gone.
class ScriptArgumentError : public std::exception {
 public:
  const char* what() const noexcept override { return "argument error"; }
};
[[noreturn]] inline void ArgumentError() { throw ScriptArgumentError(); }

// Raises "<method>: argument error" in the state. Never returns. This is the
// dispatcher's half of ArgumentError; call it only from a frame that holds no
// object with a destructor.
[[noreturn]] int RaiseArgumentError(lua_State* L, const char* method);

// Raises "<method>: <message>" (an adapter failure). Never returns. Like
// every raise it jumps over C++ frames: catch the exception, copy its text
// into a fixed buffer, leave the catch scope, then call this.
[[noreturn]] int RaiseMethodError(lua_State* L, const char* method, const char* message);
