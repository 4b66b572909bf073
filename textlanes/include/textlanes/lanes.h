// Conversions between one-byte text and wchar_t text, sixteen characters a step where the processor
// has SSE2 and wchar_t is four bytes (Linux); one character a step elsewhere. The simulated host and
// our Windows API layer both turn every path and query text they pass through from one width to the
// other, millions of times in one walk of a large host. On Linux a processor with AVX2, checked
// once when the program starts, takes each step in 32-byte halves; a step it does not finish (a
// character that fails the check) is left to the SSE2 loop, so both give the same answers.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TEXTLANES_SSE2 1
#endif
#if defined(TEXTLANES_SSE2) && defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#include <immintrin.h>
#define TEXTLANES_AVX2 1
#endif

namespace textlanes {

namespace detail {
using WideUnit = std::uint32_t;
constexpr bool kLanes =
#if defined(TEXTLANES_SSE2)
    sizeof(wchar_t) == sizeof(WideUnit);
#else
    false;
#endif

#if defined(TEXTLANES_AVX2)
// Chosen once, by what the processor has: with AVX2 a step takes two 32-byte halves. Each returns
// how far it got; the caller's tail does the rest.
inline const bool kAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();

[[gnu::target("avx2")]] inline std::size_t WidenAvx2(const char* in, std::size_t n, wchar_t* out) noexcept {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepu8_epi32(bytes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8), _mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)));
  }
  return i;
}

// Stops early, at the step holding a byte that is not ASCII.
[[gnu::target("avx2")]] inline std::size_t WidenAsciiAvx2(const char* in, std::size_t n, wchar_t* out) noexcept {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(bytes) != 0)
      break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepu8_epi32(bytes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8), _mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)));
  }
  return i;
}

// Stops early, at the step holding a character that is not ASCII.
[[gnu::target("avx2")]] inline std::size_t NarrowAsciiAvx2(const wchar_t* in, std::size_t n, char* out) noexcept {
  const __m256i high = _mm256_set1_epi32(~0x7F);
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 8));
    if (!_mm256_testz_si256(_mm256_or_si256(a, b), high))
      break;
    // Packing works within each 16-byte half: a0-3 b0-3 and a4-7 b4-7, each twice. The unpack
    // puts the four groups in order.
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_setzero_si256());
    const __m128i ordered = _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), ordered);
  }
  return i;
}

// Stops early, at the step holding a difference.
[[gnu::target("avx2")]] inline std::size_t SameTextAvx2(const unsigned char* narrow, const wchar_t* wide,
                                                        std::size_t n) noexcept {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(narrow + i));
    const __m256i low =
        _mm256_cmpeq_epi32(_mm256_cvtepu8_epi32(bytes), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wide + i)));
    const __m256i high = _mm256_cmpeq_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)),
                                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(wide + i + 8)));
    if (_mm256_movemask_epi8(_mm256_and_si256(low, high)) != -1)
      break;
  }
  return i;
}
#endif
}  // namespace detail

// Whether each of the first n bytes is below 0x80.
inline bool IsAscii(const char* text, std::size_t n) noexcept {
  std::size_t i = 0;
#if defined(TEXTLANES_SSE2)
  for (; i + 16 <= n; i += 16)
    if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i))) != 0)
      return false;
#endif
  unsigned char bits = 0;
  for (; i < n; ++i)
    bits |= static_cast<unsigned char>(text[i]);
  return bits < 0x80;
}

// Every bit set in any of the first n characters, as unsigned units: below 0x80 means ASCII,
// below 0x100 one byte a character. One reduction, which compilers vectorise.
inline std::uint32_t UnitBits(const wchar_t* text, std::size_t n) noexcept {
  detail::WideUnit bits = 0;
  for (std::size_t i = 0; i < n; ++i)
    bits |= static_cast<detail::WideUnit>(text[i]);
  return bits;
}

// Whether each of the first n characters is below 0x80.
inline bool IsAscii(const wchar_t* text, std::size_t n) noexcept {
  return UnitBits(text, n) < 0x80;
}

// The n bytes widened into out, each byte the character of that number (U+0000 to U+00FF).
inline void Widen(const char* in, std::size_t n, wchar_t* out) noexcept {
  std::size_t i = 0;
#if defined(TEXTLANES_AVX2)
  if constexpr (detail::kLanes)
    if (detail::kAvx2)
      i = detail::WidenAvx2(in, n, out);
#endif
#if defined(TEXTLANES_SSE2)
  if constexpr (detail::kLanes) {
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i low = _mm_unpacklo_epi8(bytes, zero);
      const __m128i high = _mm_unpackhi_epi8(bytes, zero);
      auto* to = reinterpret_cast<__m128i*>(out + i);
      _mm_storeu_si128(to, _mm_unpacklo_epi16(low, zero));
      _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(low, zero));
      _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(high, zero));
      _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(high, zero));
    }
  }
#endif
  for (; i < n; ++i)
    out[i] = static_cast<wchar_t>(static_cast<unsigned char>(in[i]));
}

// The n bytes widened into out if all are ASCII; false otherwise, with out holding anything.
inline bool WidenAscii(const char* in, std::size_t n, wchar_t* out) noexcept {
  std::size_t i = 0;
#if defined(TEXTLANES_SSE2)
  // Checked and widened a step at a time: one pass over the text, not two.
  if constexpr (detail::kLanes) {
#if defined(TEXTLANES_AVX2)
    if (detail::kAvx2)
      i = detail::WidenAsciiAvx2(in, n, out);
#endif
    for (; i + 16 <= n; i += 16) {
      if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))) != 0)
        return false;
      Widen(in + i, 16, out + i);
    }
  }
#endif
  if (!IsAscii(in + i, n - i))
    return false;
  Widen(in + i, n - i, out + i);
  return true;
}

// The n characters narrowed into out if all are ASCII; false otherwise, with out holding anything.
inline bool NarrowAscii(const wchar_t* in, std::size_t n, char* out) noexcept {
  std::size_t i = 0;
#if defined(TEXTLANES_SSE2)
  if constexpr (detail::kLanes) {
#if defined(TEXTLANES_AVX2)
    if (detail::kAvx2)
      i = detail::NarrowAsciiAvx2(in, n, out);
#endif
    const __m128i high = _mm_set1_epi32(~0x7F);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const auto* from = reinterpret_cast<const __m128i*>(in + i);
      const __m128i a = _mm_loadu_si128(from);
      const __m128i b = _mm_loadu_si128(from + 1);
      const __m128i c = _mm_loadu_si128(from + 2);
      const __m128i d = _mm_loadu_si128(from + 3);
      const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, high), zero)) != 0xFFFF)
        return false;
      // Every unit is below 0x80, so neither signed saturation changes it.
      const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
  }
#endif
  detail::WideUnit bits = 0;
  for (; i < n; ++i) {
    bits |= static_cast<detail::WideUnit>(in[i]);
    out[i] = static_cast<char>(in[i]);
  }
  return bits < 0x80;
}

// Whether the n bytes, read as characters U+0000 to U+00FF, are the n wide characters.
inline bool SameText(const char* narrow, const wchar_t* wide, std::size_t n) noexcept {
  const auto* in = reinterpret_cast<const unsigned char*>(narrow);
  std::size_t i = 0;
#if defined(TEXTLANES_SSE2)
  if constexpr (detail::kLanes) {
#if defined(TEXTLANES_AVX2)
    if (detail::kAvx2)
      i = detail::SameTextAvx2(in, wide, n);
#endif
    const __m128i zero = _mm_setzero_si128();
    const auto* w = reinterpret_cast<const __m128i*>(wide);
    for (; i + 16 <= n; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      const __m128i low = _mm_unpacklo_epi8(bytes, zero);
      const __m128i high = _mm_unpackhi_epi8(bytes, zero);
      const __m128i* at = w + i / 4;
      __m128i same = _mm_cmpeq_epi32(_mm_unpacklo_epi16(low, zero), _mm_loadu_si128(at));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpackhi_epi16(low, zero), _mm_loadu_si128(at + 1)));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpacklo_epi16(high, zero), _mm_loadu_si128(at + 2)));
      same = _mm_and_si128(same, _mm_cmpeq_epi32(_mm_unpackhi_epi16(high, zero), _mm_loadu_si128(at + 3)));
      if (_mm_movemask_epi8(same) != 0xFFFF)
        return false;
    }
  }
#endif
  for (; i < n; ++i)
    if (static_cast<detail::WideUnit>(in[i]) != static_cast<detail::WideUnit>(wide[i]))
      return false;
  return true;
}

}  // namespace textlanes
