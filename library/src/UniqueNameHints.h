// UniqueNameHints: where GroupBuilder::setWithUniqueName goes on looking for a free name.
#pragma once

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Tessark::internal::OvAttribute::detail {

// The next suffix to try per base name: every smaller one is taken. Only a deletion can free
// one, and a deletion lowers the hint to it, so that many collisions on one name cost O(1)
// each, deletions or not.
class UniqueNameHints {
 public:
  // The first of `base`1, `base`2, ... from the hint on that taken(name) does not refuse.
  template <typename Taken>
  std::string next(std::string_view base, Taken taken) {
    uint64_t& next = m_next[std::string(base)];
    if (next == 0) next = 1;
    std::string candidate;
    for (;; ++next) {
      candidate.assign(base);
      candidate += std::to_string(next);
      if (!taken(candidate)) break;
    }
    ++next;
    return candidate;
  }

  // Deleting "base12" frees suffix 12 of base "base" (and 2 of "base1"): where the hint of such
  // a base has passed that suffix, it goes back to it. Every other hint stays true.
  void deleted(std::string_view name) {
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

  void clear() noexcept { m_next.clear(); }

 private:
  std::unordered_map<std::string, uint64_t> m_next;
};

}  // namespace Tessark::internal::OvAttribute::detail
