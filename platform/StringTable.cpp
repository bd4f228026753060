#include "platform/StringTable.h"

#include <algorithm>
#include <iterator>

namespace {
struct Entry {
  unsigned id;
  const char* text;
};
constexpr Entry kStrings[] = {
    {IDS_USB_DISCONNECTED, "USB disconnected"},
    {IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE, "Can not load LDROM file for update"},
    {IDS_TOO_LARGE_UPDATE_LDROM_SIZE, "Size of LDROM file exceeds the limitation of LDROM."},
    {IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE, "Can not load APROM file for update"},
    {IDS_TOO_LARGE_UPDATE_APROM_SIZE, "Too large file size for APROM."},
    {IDS_UPDATE_PD, "Update %d%%"},
    {IDS_READ_PD, "Read %d%%"},
    {IDS_VERIFY_PD, "Verify %d%%"},
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
