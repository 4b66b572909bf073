#include "simhost/cim/text.hpp"

#include <cwctype>

namespace simhost::cim {

wchar_t fold(wchar_t c) noexcept {
  if (c >= L'A' && c <= L'Z')
    return static_cast<wchar_t>(c - L'A' + L'a');
  if (static_cast<unsigned long>(c) < 0x80)
    return c;
  return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

std::wstring fold(std::wstring_view s) {
  std::wstring out(s);
  for (auto& c : out)
    c = fold(c);
  return out;
}

bool iequals(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size())
    return false;
  // Names are nearly always spelled alike: folding is only needed where the characters differ.
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && fold(a[i]) != fold(b[i]))
      return false;
  return true;
}

int icompare(std::wstring_view a, std::wstring_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned long>(fold(a[i]));
    const auto y = static_cast<unsigned long>(fold(b[i]));
    if (x != y)
      return x < y ? -1 : 1;
  }
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::size_t IHash::operator()(std::wstring_view s) const noexcept {
  // FNV-1a over folded characters.
  std::size_t h = 1469598103934665603ULL & static_cast<std::size_t>(-1);
  for (wchar_t c : s) {
    h ^= static_cast<std::size_t>(fold(c));
    h *= static_cast<std::size_t>(1099511628211ULL);
  }
  return h;
}

std::string narrow(std::wstring_view s) {
  std::string out;
  out.reserve(s.size());
  for (wchar_t c : s)
    out.push_back(static_cast<unsigned long>(c) < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace simhost::cim
