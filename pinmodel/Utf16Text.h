// Lengths and cuts of UTF-8 texts counted as the user interface counts
// them: in UTF-16 code units. A malformed byte counts as one unit (it shows
// as one replacement character).
#pragma once

#include <cstddef>
#include <string_view>

// UTF-16 units of `s`.
size_t Utf16Length(std::string_view s);

// The longest start of `s` of at most `units` UTF-16 units that ends
// between two characters.
std::string_view Utf16Left(std::string_view s, size_t units);
