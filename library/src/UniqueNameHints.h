// UniqueNameHints: where GroupBuilder::setWithUniqueName goes on looking for a free name.
#pragma once

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
  void deleted(std::string_view name);

  void clear() noexcept { m_next.clear(); }

 private:
  std::unordered_map<std::string, uint64_t> m_next;
};

}  // namespace Tessark::internal::OvAttribute::detail
