#include "app/StringTable.h"

std::string GadrelTitle() { return LOAD_STRING(IDS_GADREL_TITLE); }
