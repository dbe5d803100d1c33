// The order of the names in a folder's directory index: each 16-bit unit mapped through the
// volume's own upcase table ($UpCase, one entry for every unit), compared as unsigned numbers,
// the shorter name first where one begins the other. Names that are the same so (possible only
// in the POSIX namespace, such as "Case" and "case") follow the order of their own units.
#pragma once

#include <string_view>

constexpr std::size_t kUpcaseEntries = 65536;

// Below 0 when `a` comes before `b`, 0 when they are the same name ignoring case, above 0 after.
int compareIgnoringCase(const char16_t* upcase, std::u16string_view a, std::u16string_view b);

// The index's order: below 0, 0 (the very same name) or above 0.
int collateNames(const char16_t* upcase, std::u16string_view a, std::u16string_view b);
