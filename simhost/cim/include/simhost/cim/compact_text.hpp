// Text kept one byte a character when every character fits in one, wide otherwise. An instance's
// path (class name, GUIDs, key names) nearly always fits, and wchar_t is four bytes on Linux: a
// path read for every object a query hands out then costs a quarter of the memory traffic.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace simhost::cim {

class CompactText {
 public:
  CompactText() = default;
  explicit CompactText(std::wstring_view text);

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  // The characters from `from` on, widened into `out`, which has room for size() - from.
  void copy_to(wchar_t* out, std::size_t from = 0) const noexcept;
  std::wstring str(std::size_t from = 0) const;
  // Starts loading the characters into the processor's caches.
  void prefetch() const noexcept;

  friend bool operator==(const CompactText& a, std::wstring_view b) noexcept;

 private:
  std::variant<std::string, std::wstring> text_;  // bytes 0-255 stand for characters U+0000-U+00FF
};

}  // namespace simhost::cim
