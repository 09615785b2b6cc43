// Where GroupBuilder::setWithUniqueName goes on looking for a free name.

#include "UniqueNameHints.h"

#include <cctype>
#include <charconv>

namespace Tessark::internal::OvAttribute::detail {

void UniqueNameHints::deleted(std::string_view name) {
  if (m_next.empty()) return;
  size_t digits = 0;
  while (digits < name.size() && digits < 19 &&
         std::isdigit(static_cast<unsigned char>(name[name.size() - 1 - digits])))
    ++digits;
  for (size_t n = 1; n <= digits; ++n) {
    const std::string_view suffix = name.substr(name.size() - n);
    if (suffix[0] == '0') continue;  // unique names are written without leading zeros
    uint64_t number = 0;
    std::from_chars(suffix.data(), suffix.data() + suffix.size(), number);
    const auto hint = m_next.find(std::string(name.substr(0, name.size() - n)));
    if (hint != m_next.end() && number < hint->second) hint->second = number;
  }
}

}  // namespace Tessark::internal::OvAttribute::detail
