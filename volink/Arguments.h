// The one argument parser of `volink`: the options every command takes
// (--adapter N, --core C), and each command's own words as its row of the
// command table declares them:
//
//   NAME        a required word          [NAME]          an optional one
//   NAME...     one or more words        [--flag]        a flag
//   [--opt V]   an option with a value   [--opt|-o ...]  the same with a short name
//
// Numbers are decimal or 0x hexadecimal and checked against their range;
// every mistake is a UsageError naming the command, the same for all of
// them (exit status 2 and the command's usage line).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace volink {

class UsageError : public std::runtime_error {
 public:
  // `command`: the command whose usage is shown (empty: the whole usage).
  explicit UsageError(const std::string& message, std::string command = {})
      : std::runtime_error(message), m_command(std::move(command)) {}
  const std::string& Command() const { return m_command; }

 private:
  std::string m_command;
};

// `text` as a number from `min` to `max`; otherwise a UsageError
// "WHAT: not a number from MIN to MAX: TEXT".
uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const std::string& what);

// The index of `text` in `names`, or `text` as a number up to `max`.
uint32_t ParseChoice(const std::string& text, const std::vector<std::string>& names, uint32_t max,
                     const std::string& what);

enum class Core { M0, M4, Ostra8051 };

// What comes before or between the command's words for every command.
struct GlobalOptions {
  std::optional<unsigned> adapter;  // --adapter N
  Core core = Core::M4;             // --core m0|m4|8051
  bool help = false;                // --help, -h
  bool version = false;             // --version
  std::string mistake;              // what was wrong with them (empty: nothing)
};

// Takes the options every command shares out of `words` (wherever they
// stand) and leaves the rest. A mistake in them is kept, not thrown, so that
// it can be reported with the command it came with.
GlobalOptions TakeGlobalOptions(std::vector<std::string>& words);

// The part of the usage line those options make.
inline constexpr const char* kGlobalUsage = "[--adapter N] [--core m0|m4|8051]";

// A command's words, checked against its declaration.
class Arguments {
 public:
  Arguments(std::string command, const std::string& declaration, const std::vector<std::string>& words);

  size_t Count() const { return m_words.size(); }
  const std::string& operator[](size_t i) const { return m_words.at(i); }
  bool Has(size_t i) const { return i < m_words.size(); }
  // Word `i` as a number (UsageError naming it when it is none or out of range).
  uint32_t Number(size_t i, uint32_t min, uint32_t max) const;
  // The same, `fallback` when word `i` was not given.
  uint32_t Number(size_t i, uint32_t min, uint32_t max, uint32_t fallback) const;
  // Word `i` as one of `names` or a number up to `max`.
  uint32_t Choice(size_t i, const std::vector<std::string>& names, uint32_t max) const;

  bool Flag(const std::string& name) const { return m_flags.count(name) != 0; }
  std::optional<std::string> Option(const std::string& name) const;
  uint32_t OptionNumber(const std::string& name, uint32_t min, uint32_t max, uint32_t fallback) const;

  // A mistake in these words.
  [[noreturn]] void Fail(const std::string& message) const;

 private:
  std::string NameOf(size_t i) const;

  std::string m_command;
  std::vector<std::string> m_names;  // of the positional words, as declared
  bool m_bRepeatLast = false;
  std::vector<std::string> m_words;
  std::map<std::string, bool> m_flags;
  std::map<std::string, std::string> m_options;
};

}  // namespace volink
