// The sixteen-a-step conversions against one character at a time, at every length around the step
// and with the odd character at every position: the vector part, the seam and the tail.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "textlanes/lanes.h"

namespace {

constexpr std::size_t kMaxLength = 50;  // three steps and a tail

bool ScalarAscii(const std::wstring& w) {
  for (const wchar_t c : w)
    if (static_cast<std::uint32_t>(c) >= 0x80)
      return false;
  return true;
}

// Texts of every length up to kMaxLength, plain and with `odd` at each position.
template <typename Body>
void ForEachText(wchar_t odd, Body body) {
  for (std::size_t n = 0; n <= kMaxLength; ++n) {
    std::wstring plain(n, L'a');
    for (std::size_t i = 0; i < n; ++i)
      plain[i] = static_cast<wchar_t>(L'0' + (i * 7) % 75);
    body(plain);
    for (std::size_t at = 0; at < n; ++at) {
      std::wstring marked = plain;
      marked[at] = odd;
      body(marked);
    }
  }
}

std::string Bytes(const std::wstring& w) {
  std::string out;
  for (const wchar_t c : w)
    out += static_cast<char>(c);
  return out;
}

TEST(TextLanes, AgreeWithOneCharacterAtATime) {
  // Odd characters: the first above ASCII, Latin-1's last, beyond a byte, and a negative wchar_t
  // on platforms where it is signed.
  const wchar_t odds[] = {L'\x80', L'\xFF', L'\x100', static_cast<wchar_t>(-1)};
  for (const wchar_t odd : odds) {
    ForEachText(odd, [&](const std::wstring& w) {
      const bool ascii = ScalarAscii(w);
      std::string out(w.size(), '?');
      EXPECT_EQ(textlanes::NarrowAscii(w.data(), w.size(), out.data()), ascii) << w.size();
      if (ascii) {
        EXPECT_EQ(out, Bytes(w));
      }
      EXPECT_EQ(textlanes::IsAscii(w.data(), w.size()), ascii);

      // Texts within a byte a character: the one-byte side of each conversion.
      if (static_cast<std::uint32_t>(odd) > 0xFF)
        return;
      const std::string bytes = Bytes(w);
      EXPECT_EQ(textlanes::IsAscii(bytes.data(), bytes.size()), ascii) << bytes.size();
      std::wstring wide(w.size() + 1, L'#');
      textlanes::Widen(bytes.data(), bytes.size(), wide.data());
      EXPECT_EQ(wide, w + L'#') << "wrote past the end or widened wrongly";
      std::wstring checked(w.size(), L'#');
      EXPECT_EQ(textlanes::WidenAscii(bytes.data(), bytes.size(), checked.data()), ascii);
      if (ascii) {
        EXPECT_EQ(checked, w);
      }
      EXPECT_TRUE(textlanes::SameText(bytes.data(), w.data(), w.size()));
    });
  }
}

TEST(TextLanes, SameTextFindsEachDifference) {
  ForEachText(L'\xE9', [](const std::wstring& w) {
    const std::string bytes = Bytes(w);
    for (std::size_t at = 0; at < w.size(); ++at) {
      for (const wchar_t other : {static_cast<wchar_t>(w[at] ^ 1), static_cast<wchar_t>(w[at] + 0x100)}) {
        std::wstring changed = w;
        changed[at] = other;
        EXPECT_FALSE(textlanes::SameText(bytes.data(), changed.data(), w.size())) << w.size() << " at " << at;
      }
    }
  });
}

}  // namespace
