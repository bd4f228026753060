// The application's texts from the program's string table.
#pragma once

#include <string>

#include "platform/StringTable.h"

// The window title: string 4033, or "IDS_GADREL_TITLE".
std::string GadrelTitle();
