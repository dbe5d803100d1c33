#include "ntfs/collation.h"

int compareIgnoringCase(const char16_t* upcase, std::u16string_view a, std::u16string_view b) {
  std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    char16_t upperA = upcase[a[i]];
    char16_t upperB = upcase[b[i]];
    if (upperA != upperB) return upperA < upperB ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int collateNames(const char16_t* upcase, std::u16string_view a, std::u16string_view b) {
  int order = compareIgnoringCase(upcase, a, b);
  if (order != 0) return order;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}
