#include "platform/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {
struct Entry {
  unsigned id;
  const char* text;
};
constexpr Entry kStrings[] = {
    {IDS_TOO_MANY_ICE, "Too many Vo-Links detected!\n\nPlease remove some of them to continue ..."},
    {IDS_DUP_ICE_ID, "Found multiple Vo-Links with same ID!\n\nPlease remove some of them to continue ..."},
    {IDS_ERROR, "Error"},
    {IDS_GADREL_TITLE, "Halvix - Lumeth 3.23"},
};
}  // namespace

std::string LoadStringOr(unsigned id, const char* keyName) {
  const auto it = std::find_if(std::begin(kStrings), std::end(kStrings), [id](const Entry& e) { return e.id == id; });
  if (it != std::end(kStrings)) return it->text;
  return keyName != nullptr ? keyName : "";
}
