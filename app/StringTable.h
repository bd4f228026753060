// The program's string table: text by id, or the id's key name when the
// table has no entry for it.
#pragma once

#include <string>

constexpr unsigned IDS_GADREL_TITLE = 4033;

// The text of string `id`; `keyName` when there is none.
std::string LoadStringOr(unsigned id, const char* keyName);

// The window title: string 4033, or "IDS_GADREL_TITLE".
std::string GadrelTitle();
