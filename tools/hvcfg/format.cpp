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
  static constexpr Word kWords[] = {{0, "Guest shutdown"}, {2, "Running"},    {3, "Off"},
                                    {10, "Reset"},         {32768, "Paused"}, {32769, "Saved"}};
  return value < 0 ? std::to_string(value) : Worded(kWords, static_cast<unsigned>(value));
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

std::string Printable(std::string_view text) {
  std::string printable;
  for (const char ch : Utf8(text)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7F) {
      printable += ch;
    } else if (c == '\t') {
      printable += "\\t";
    } else if (c == '\n') {
      printable += "\\n";
    } else if (c == '\r') {
      printable += "\\r";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      printable += escaped;
    }
  }
  return printable;
}

std::string Quoted(std::string_view text) {
  return "\"" + Printable(text) + "\"";
}

void Table::Add(std::vector<std::string> cells) {
  for (std::string& cell : cells) {
    cell = Printable(cell);
    if (cellLimit_ > 3 && Width(cell) > cellLimit_) {
      std::size_t keep = 0;
      for (std::size_t characters = 0; keep < cell.size(); ++keep)
        if ((static_cast<unsigned char>(cell[keep]) & 0xC0) != 0x80 && ++characters > cellLimit_ - 3)
          break;
      cell = cell.substr(0, keep) + "...";
    }
  }
  rows_.push_back(std::move(cells));
}

std::string Table::Text() const {
  std::vector<std::size_t> widths(headings_.size(), 0);
  const auto measure = [&](const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], Width(cells[c]));
  };
  measure(headings_);
  for (const auto& row : rows_)
    measure(row);
  std::string text;
  const auto print = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size())
        line.append(widths[c] - Width(cells[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ')
      line.pop_back();
    text += line + "\n";
  };
  print(headings_);
  for (const auto& row : rows_)
    print(row);
  if (rows_.empty())
    text += "(none)\n";
  return text;
}

}  // namespace hvcfg
