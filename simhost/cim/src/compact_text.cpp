#include "simhost/cim/compact_text.hpp"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace simhost::cim {

namespace {

bool fits_bytes(std::wstring_view text) noexcept {
  // One reduction over the whole text, which the compiler vectorises.
  std::uint32_t bits = 0;
  for (const wchar_t c : text)
    bits |= static_cast<std::uint32_t>(c);
  return bits < 0x100;
}

}  // namespace

CompactText::CompactText(std::wstring_view text) {
  if (!fits_bytes(text)) {
    text_ = std::wstring(text);
    return;
  }
  std::string bytes(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i)
    bytes[i] = static_cast<char>(text[i]);
  text_ = std::move(bytes);
}

std::size_t CompactText::size() const noexcept {
  return std::visit([](const auto& t) { return t.size(); }, text_);
}

void CompactText::copy_to(wchar_t* out, std::size_t from) const noexcept {
  if (const auto* wide = std::get_if<std::wstring>(&text_)) {
    std::memcpy(out, wide->data() + from, (wide->size() - from) * sizeof(wchar_t));
    return;
  }
  const std::string& bytes = std::get<std::string>(text_);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  for (std::size_t i = from; i < n; ++i)
    out[i - from] = static_cast<wchar_t>(in[i]);
}

void CompactText::prefetch() const noexcept {
  const char* at = nullptr;
  std::size_t bytes = 0;
  if (const auto* wide = std::get_if<std::wstring>(&text_)) {
    at = reinterpret_cast<const char*>(wide->data());
    bytes = wide->size() * sizeof(wchar_t);
  } else {
    at = std::get<std::string>(text_).data();
    bytes = std::get<std::string>(text_).size();
  }
  for (std::size_t i = 0; i < bytes; i += 64)
    __builtin_prefetch(at + i);
}

std::wstring CompactText::str(std::size_t from) const {
  std::wstring out(size() - from, L'\0');
  copy_to(out.data(), from);
  return out;
}

bool operator==(const CompactText& a, std::wstring_view b) noexcept {
  if (const auto* wide = std::get_if<std::wstring>(&a.text_))
    return *wide == b;
  const std::string& bytes = std::get<std::string>(a.text_);
  if (bytes.size() != b.size())
    return false;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen characters a round: the bytes widened to four lanes of four and compared with the
  // wide characters (wchar_t is four bytes on Linux).
  if constexpr (sizeof(wchar_t) == 4) {
    const __m128i zero = _mm_setzero_si128();
    const auto* wide = reinterpret_cast<const __m128i*>(b.data());
    for (; i + 16 <= b.size(); i += 16) {
      const __m128i narrow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i low = _mm_unpacklo_epi8(narrow, zero);
      const __m128i high = _mm_unpackhi_epi8(narrow, zero);
      const __m128i* w = wide + i / 4;
      __m128i same = _mm_cmpeq_epi32(_mm_unpacklo_epi16(low, zero), _mm_loadu_si128(w));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpackhi_epi16(low, zero), _mm_loadu_si128(w + 1)));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpacklo_epi16(high, zero), _mm_loadu_si128(w + 2)));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpackhi_epi16(high, zero), _mm_loadu_si128(w + 3)));
      if (_mm_movemask_epi8(same) != 0xFFFF)
        return false;
    }
  }
#endif
  for (; i < b.size(); ++i)
    if (static_cast<std::uint32_t>(in[i]) != static_cast<std::uint32_t>(b[i]))
      return false;
  return true;
}

}  // namespace simhost::cim
