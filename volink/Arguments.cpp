#include "volink/Arguments.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace volink {
namespace {

std::string Show(uint32_t v) {
  if (v < 0x10000) return std::to_string(v);
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

// The declaration's items: "ADDR", "[LEN]", "[--limit N]", "VALUE...".
std::vector<std::string> Items(const std::string& declaration) {
  std::vector<std::string> items;
  std::string item;
  int depth = 0;
  for (char c : declaration) {
    if (c == '[') ++depth;
    if (c == ']') --depth;
    if (c == ' ' && depth == 0) {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

struct OptionDecl {
  std::string name;  // the long name, as Flag/Option take it
  bool takesValue = false;
};

bool IsOptionWord(const std::string& w) { return w.size() > 1 && w[0] == '-' && !std::isdigit(static_cast<unsigned char>(w[1])); }

}  // namespace

uint32_t ParseNumber(const std::string& text, uint32_t min, uint32_t max, const std::string& what) {
  try {
    // Decimal, or hexadecimal after 0x; no sign, no spaces, no octal.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (!digits.empty() && std::isxdigit(static_cast<unsigned char>(digits[0]))) {
      size_t used = 0;
      const unsigned long long v = std::stoull(digits, &used, hex ? 16 : 10);
      if (used == digits.size() && v >= min && v <= max) return static_cast<uint32_t>(v);
    }
  } catch (const std::exception&) {
  }
  throw UsageError(what + ": not a number from " + Show(min) + " to " + Show(max) + ": " + text);
}

uint32_t ParseChoice(const std::string& text, const std::vector<std::string>& names, uint32_t max,
                     const std::string& what) {
  const auto it = std::find(names.begin(), names.end(), text);
  if (it != names.end()) return static_cast<uint32_t>(it - names.begin());
  return ParseNumber(text, 0, max, what);
}

GlobalOptions TakeGlobalOptions(std::vector<std::string>& words) {
  GlobalOptions options;
  std::vector<std::string> rest;
  const auto mistake = [&](const std::string& text) {
    if (options.mistake.empty()) options.mistake = text;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--adapter" || w == "--core") {
      if (i + 1 >= words.size()) {
        mistake(w + " needs " + (w == "--core" ? "m0, m4 or 8051" : "N"));
        continue;
      }
      const std::string& value = words[++i];
      if (w == "--adapter") {
        try {
          options.adapter = ParseNumber(value, 0, 255, "--adapter");
        } catch (const UsageError& e) {
          mistake(e.what());
        }
      } else if (value == "m0") {
        options.core = Core::M0;
      } else if (value == "m4") {
        options.core = Core::M4;
      } else if (value == "8051") {
        options.core = Core::Ostra8051;
      } else {
        mistake("--core: m0, m4 or 8051, not " + value);
      }
    } else if (w == "--help" || w == "-h") {
      options.help = true;
    } else if (w == "--version") {
      options.version = true;
    } else {
      rest.push_back(w);
    }
  }
  words = std::move(rest);
  return options;
}

Arguments::Arguments(std::string command, const std::string& declaration, const std::vector<std::string>& words)
    : m_command(std::move(command)) {
  size_t required = 0;
  std::vector<std::pair<std::vector<std::string>, OptionDecl>> options;  // names, declaration
  for (std::string item : Items(declaration)) {
    const bool optional = item.front() == '[';
    if (optional) item = item.substr(1, item.size() - 2);
    if (item.front() == '-') {
      const size_t space = item.find(' ');
      OptionDecl decl{item.substr(0, space), space != std::string::npos};
      std::vector<std::string> names;
      for (size_t from = 0, bar; from < decl.name.size(); from = bar + 1) {
        bar = decl.name.find('|', from);
        if (bar == std::string::npos) bar = decl.name.size();
        names.push_back(decl.name.substr(from, bar - from));
      }
      decl.name = names.front();
      options.emplace_back(std::move(names), std::move(decl));
      continue;
    }
    if (item.size() > 3 && item.compare(item.size() - 3, 3, "...") == 0) {
      m_bRepeatLast = true;
      item.resize(item.size() - 3);
    }
    if (!optional) ++required;
    m_names.push_back(item);
  }

  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (IsOptionWord(w)) {
      const auto it = std::find_if(options.begin(), options.end(), [&](const auto& o) {
        return std::find(o.first.begin(), o.first.end(), w) != o.first.end();
      });
      if (it == options.end()) Fail("unknown option " + w);
      const OptionDecl& decl = it->second;
      if (!decl.takesValue) {
        m_flags[decl.name] = true;
      } else {
        if (i + 1 >= words.size()) Fail(w + " needs a value");
        m_options[decl.name] = words[++i];
      }
      continue;
    }
    if (m_words.size() >= m_names.size() && !m_bRepeatLast) Fail("unexpected " + w);
    m_words.push_back(w);
  }
  if (m_words.size() < required) Fail("missing " + NameOf(m_words.size()));
}

std::string Arguments::NameOf(size_t i) const {
  if (m_names.empty()) return "";
  return m_names[std::min(i, m_names.size() - 1)];
}

void Arguments::Fail(const std::string& message) const { throw UsageError(message, m_command); }

uint32_t Arguments::Number(size_t i, uint32_t min, uint32_t max) const {
  try {
    return ParseNumber(m_words.at(i), min, max, NameOf(i));
  } catch (const UsageError& e) {
    Fail(e.what());
  }
}

uint32_t Arguments::Number(size_t i, uint32_t min, uint32_t max, uint32_t fallback) const {
  return Has(i) ? Number(i, min, max) : fallback;
}

uint32_t Arguments::Choice(size_t i, const std::vector<std::string>& names, uint32_t max) const {
  try {
    return ParseChoice(m_words.at(i), names, max, NameOf(i));
  } catch (const UsageError& e) {
    Fail(e.what());
  }
}

std::optional<std::string> Arguments::Option(const std::string& name) const {
  const auto it = m_options.find(name);
  if (it == m_options.end()) return std::nullopt;
  return it->second;
}

uint32_t Arguments::OptionNumber(const std::string& name, uint32_t min, uint32_t max, uint32_t fallback) const {
  const std::optional<std::string> value = Option(name);
  if (!value) return fallback;
  try {
    return ParseNumber(*value, min, max, name);
  } catch (const UsageError& e) {
    Fail(e.what());
  }
}

}  // namespace volink
