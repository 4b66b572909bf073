#include "format.h"

#include <algorithm>
#include <utility>

namespace hvcfg {

namespace {

struct Word {
  unsigned value;
  const char* word;
};

template <std::size_t N>
std::string Worded(const Word (&words)[N], unsigned value) {
  for (const Word& w : words)
    if (w.value == value)
      return std::string(w.word) + " (" + std::to_string(value) + ")";
  return std::to_string(value);
}

// Characters, not bytes, so that non-ASCII names keep the columns straight.
std::size_t Width(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8Sequence(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned minimum = 0;
  unsigned code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80)
      return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

std::string VmStateWord(unsigned value) {
  static constexpr Word kWords[] = {
      {2, "Running"},          {3, "Off"},        {32768, "Paused"},   {32769, "Saved"},   {32770, "Starting"},
      {32771, "Snapshotting"}, {32773, "Saving"}, {32774, "Stopping"}, {32776, "Pausing"}, {32777, "Resuming"},
  };
  return Worded(kWords, value);
}

std::string SwitchStateWord(unsigned value) {
  static constexpr Word kWords[] = {{2, "Enabled"}, {3, "Disabled"}};
  return Worded(kWords, value);
}

std::string HealthWord(unsigned value) {
  static constexpr Word kWords[] = {{5, "OK"}, {20, "Major failure"}, {25, "Critical failure"}};
  return Worded(kWords, value);
}

std::string SwitchTypeWord(unsigned value) {
  static constexpr Word kWords[] = {{0, "Private"}, {1, "External"}, {2, "Internal"}};
  return Worded(kWords, value);
}

std::string RequestedStateWord(int value) {
  static constexpr Word kWords[] = {{0, "Guest shutdown"}, {2, "Running"},    {3, "Off"},      {10, "Reboot"},
                                    {11, "Reset"},         {32768, "Paused"}, {32769, "Saved"}};
  return value < 0 ? std::to_string(value) : Worded(kWords, static_cast<unsigned>(value));
}

void Table::Print(std::FILE* out) const {
  std::vector<std::size_t> widths(headings_.size(), 0);
  const auto measure = [&](const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], Width(cells[c]));
  };
  measure(headings_);
  for (const auto& row : rows_)
    measure(row);
  const auto print = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size())
        line.append(widths[c] - Width(cells[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    std::fprintf(out, "%s\n", line.c_str());
  };
  print(headings_);
  for (const auto& row : rows_)
    print(row);
  if (rows_.empty())
    std::fprintf(out, "(none)\n");
}

std::string Utf8(std::string_view text) {
  std::string utf8;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
      ++i;
    } else if (const std::size_t length = Utf8Sequence(text, i); length != 0) {
      utf8.append(text.substr(i, length));
      i += length;
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    }
  }
  return utf8;
}

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char ch : Utf8(text)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += ch;
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\r') {
      json += "\\r";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += ch;
    }
  }
  return json + "\"";
}

JsonObject& JsonObject::Key(std::string_view key) {
  if (!body_.empty())
    body_ += ", ";
  body_ += JsonString(key) + ": ";
  return *this;
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) {
  Key(key).body_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Number(std::string_view key, long long value) {
  Key(key).body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key).body_ += json;
  return *this;
}

std::string JsonInline(const std::vector<std::string>& elements) {
  std::string json = "[";
  for (std::size_t i = 0; i < elements.size(); ++i)
    json += (i == 0 ? "" : ", ") + elements[i];
  return json + "]";
}

void PrintJsonArray(std::FILE* out, const std::vector<std::string>& elements) {
  if (elements.empty()) {
    std::fprintf(out, "[]\n");
    return;
  }
  std::fprintf(out, "[\n");
  for (std::size_t i = 0; i < elements.size(); ++i)
    std::fprintf(out, "  %s%s\n", elements[i].c_str(), i + 1 < elements.size() ? "," : "");
  std::fprintf(out, "]\n");
}

}  // namespace hvcfg
