// A non-owning view of a byte range, used for names handed to the attribute library.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace Tessark::internal::Platform {

// Borrows the bytes it views: the caller keeps them alive for the view's lifetime.
// The bytes need not be NUL-terminated and may hold NUL bytes.
class StringView {
 public:
  constexpr StringView() noexcept = default;
  constexpr StringView(const char* data, size_t size) noexcept : m_data(data), m_size(size) {}
  // A null pointer views the empty string.
  StringView(const char* cString) noexcept  // NOLINT(google-explicit-constructor)
      : m_data(cString), m_size(cString ? std::strlen(cString) : 0) {}
  StringView(const std::string& s) noexcept  // NOLINT(google-explicit-constructor)
      : m_data(s.data()), m_size(s.size()) {}
  constexpr StringView(std::string_view s) noexcept  // NOLINT(google-explicit-constructor)
      : m_data(s.data()), m_size(s.size()) {}

  constexpr const char* data() const noexcept { return m_data; }
  constexpr size_t size() const noexcept { return m_size; }
  constexpr bool empty() const noexcept { return m_size == 0; }
  constexpr const char* begin() const noexcept { return m_data; }
  constexpr const char* end() const noexcept { return m_data + m_size; }

  constexpr std::string_view view() const noexcept { return {m_data ? m_data : "", m_size}; }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }

  friend bool operator==(StringView a, StringView b) noexcept { return a.view() == b.view(); }
  friend bool operator!=(StringView a, StringView b) noexcept { return !(a == b); }

 private:
  const char* m_data = nullptr;
  size_t m_size = 0;
};

}  // namespace Tessark::internal::Platform
