// Case-insensitive text helpers. CIM names and WQL string comparison ignore case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace simhost::cim {

// Folds one character for comparison. ASCII is handled without the C locale so results do not
// depend on the process's locale settings.
wchar_t fold(wchar_t c) noexcept;
std::wstring fold(std::wstring_view s);

bool iequals(std::wstring_view a, std::wstring_view b) noexcept;
// <0, 0, >0 like std::wstring::compare, on folded characters.
int icompare(std::wstring_view a, std::wstring_view b) noexcept;

struct ILess {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const noexcept { return icompare(a, b) < 0; }
};

struct IHash {
  using is_transparent = void;
  std::size_t operator()(std::wstring_view s) const noexcept;
};

struct IEqual {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const noexcept { return iequals(a, b); }
};

// Plain ASCII narrowing for diagnostics; other characters become '?'.
std::string narrow(std::wstring_view s);

}  // namespace simhost::cim
