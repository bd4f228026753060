#include "StringTable.h"

#include <algorithm>
#include <iterator>

namespace {
struct Entry {
  unsigned id;
  const char* text;
};
constexpr Entry kStrings[] = {
    {IDS_GADREL_TITLE, "Halvix - Lumeth 3.23"},
};
}  // namespace

std::string LoadStringOr(unsigned id, const char* keyName) {
  const auto it = std::find_if(std::begin(kStrings), std::end(kStrings), [id](const Entry& e) { return e.id == id; });
  if (it != std::end(kStrings)) return it->text;
  return keyName != nullptr ? keyName : "";
}

std::string GadrelTitle() { return LoadStringOr(IDS_GADREL_TITLE, "IDS_GADREL_TITLE"); }
