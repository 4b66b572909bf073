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

// Columns separated by two spaces, each as wide as its widest cell (in characters of UTF-8 text).
class Table {
 public:
  explicit Table(std::vector<std::string> headings) : headings_(std::move(headings)) {}
  void Add(std::vector<std::string> cells) {
    for (std::string& cell : cells)
      cell = Utf8(cell);
    rows_.push_back(std::move(cells));
  }
  void Print(std::FILE* out) const;

 private:
  std::vector<std::string> headings_;
  std::vector<std::vector<std::string>> rows_;
};

// A JSON string literal of Utf8(text).
std::string JsonString(std::string_view text);

// One JSON object, its members in the order added.
class JsonObject {
 public:
  JsonObject& Text(std::string_view key, std::string_view value);
  JsonObject& Number(std::string_view key, long long value);
  JsonObject& Raw(std::string_view key, std::string_view json);
  std::string str() const { return "{" + body_ + "}"; }

 private:
  JsonObject& Key(std::string_view key);
  std::string body_;
};

// An array inline ("[a, b]"), or one element a line for the tool's top-level output.
std::string JsonInline(const std::vector<std::string>& elements);
void PrintJsonArray(std::FILE* out, const std::vector<std::string>& elements);

}  // namespace hvcfg
