// UTF-8 <-> std::wstring for host files. wchar_t is UTF-16 on Windows and UTF-32 elsewhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace simhost::provider::detail {

// nullopt for malformed UTF-8.
std::optional<std::wstring> from_utf8(std::string_view text);
std::string to_utf8(std::wstring_view text);

}  // namespace simhost::provider::detail
