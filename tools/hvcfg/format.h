// Text for people (aligned tables, state and health words) and for programs (JSON).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace hvcfg {

// A record's text field: zero-terminated, or filling the whole field.
template <std::size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// ASCII letters in either case are equal: GUID texts.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// "Running (2)"; a number without a word stays a bare number.
std::string VmStateWord(unsigned value);
std::string SwitchStateWord(unsigned value);
std::string HealthWord(unsigned value);
std::string SwitchTypeWord(unsigned value);
std::string RequestedStateWord(int value);

// Record text as UTF-8: valid UTF-8 passes through; any other byte of 0x80 and above is read as
// Latin-1, as the library's 8-bit text is when it is not UTF-8 (a Windows code page, or a
// character cut by a field's width).
std::string Utf8(std::string_view text);

// Utf8(text) with control characters written as escapes (\t, \n, \r, \xNN), so that a name
// cannot break a table's lines or move the terminal's cursor.
std::string Printable(std::string_view text);

// "\"text\"" of Printable(text): a name in a message.
std::string Quoted(std::string_view text);

// Columns separated by two spaces, each as wide as its widest cell (in characters of UTF-8 text).
// With a width limit, longer cells are cut and end in "...".
class Table {
 public:
  explicit Table(std::vector<std::string> headings, std::size_t cellLimit = 0)
      : headings_(std::move(headings)), cellLimit_(cellLimit) {}
  void Add(std::vector<std::string> cells);
  std::string Text() const;

 private:
  std::vector<std::string> headings_;
  std::size_t cellLimit_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace hvcfg
