// WMI object paths: \\server\namespace:Class.Key="value",Key2=5
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simhost::cim {

struct KeyBinding {
  std::wstring name;   // empty for the short form Class="value" of a single-key class
  std::wstring value;  // unescaped text; numbers and booleans as written
  bool quoted = true;  // string-like keys are quoted, numeric and boolean ones are not
};

struct ObjectPath {
  std::wstring server;      // empty for a relative path
  std::wstring ns;          // backslash separated, empty for a relative path
  std::wstring class_name;  // never empty in a parsed path
  std::vector<KeyBinding> keys;

  bool is_relative() const noexcept { return server.empty() && ns.empty(); }
  bool is_class() const noexcept { return keys.empty(); }

  // Keys are written in the order held; make_path() sorts them.
  std::wstring relpath() const;
  void append_relpath(std::wstring& out) const;
  // The full form when server and namespace are set, otherwise the relative one; `relpath_at`,
  // when given, receives where the relative path starts in it.
  std::wstring str(std::size_t* relpath_at = nullptr) const;

  // Accepts full (\\server\ns:...), namespace-relative (ns:...) and relative paths; `/` works
  // as a separator before the class, and key values may be quoted with " or ', as WMI allows.
  // nullopt for malformed text, including a stray quote, a bad escape (only \\, \" and \'
  // exist inside values), a duplicate key, an unquoted value that is no number or boolean, and
  // trailing text.
  static std::optional<ObjectPath> parse(std::wstring_view text);
};

// Builds a path with the keys in case-insensitive alphabetical order.
ObjectPath make_path(std::wstring server, std::wstring ns, std::wstring class_name, std::vector<KeyBinding> keys);

// Backslash-escapes `\` and `"` for a quoted key value.
std::wstring escape_key_value(std::wstring_view value);

}  // namespace simhost::cim
