// The program's string table: message text by id, or the key name when the
// table has no entry for the id.
#pragma once

#include <string>

constexpr unsigned IDS_USB_DISCONNECTED = 4007;
constexpr unsigned IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE = 4015;
constexpr unsigned IDS_TOO_LARGE_UPDATE_LDROM_SIZE = 4016;
constexpr unsigned IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE = 4017;
constexpr unsigned IDS_TOO_LARGE_UPDATE_APROM_SIZE = 4018;
constexpr unsigned IDS_UPDATE_PD = 4023;
constexpr unsigned IDS_READ_PD = 4024;
constexpr unsigned IDS_VERIFY_PD = 4025;
constexpr unsigned IDS_TOO_MANY_ICE = 4028;
constexpr unsigned IDS_DUP_ICE_ID = 4029;
constexpr unsigned IDS_ERROR = 4031;
constexpr unsigned IDS_GADREL_TITLE = 4033;

// The text of string `id`; `keyName` when there is none.
std::string LoadStringOr(unsigned id, const char* keyName);

// Looks a message up by its key: LOAD_STRING(IDS_ERROR).
#define LOAD_STRING(key) LoadStringOr(key, #key)
