#include "targets.hpp"

namespace hvc::fuzz {

std::span<const Target> targets() {
  static const Target all[] = {
      {"wql", &wql}, {"object_path", &object_path}, {"cimxml", &cimxml}, {"host_file", &host_file}};
  return all;
}

std::wstring widen(const std::uint8_t* data, std::size_t size) {
  std::wstring out;
  out.reserve(size);
  for (std::size_t i = 0; i < size;) {
    const std::uint8_t lead = data[i];
    const std::size_t extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    char32_t cp = lead;
    std::size_t used = 1;
    if (lead >= 0x80 && extra > 0 && i + extra < size) {
      char32_t value = lead & (0x3F >> extra);
      bool ok = true;
      for (std::size_t k = 1; k <= extra && ok; ++k) {
        ok = (data[i + k] & 0xC0) == 0x80;
        value = (value << 6) | (data[i + k] & 0x3F);
      }
      // Overlong forms and values past U+10FFFF are not sequences; the lead byte stands alone.
      const char32_t least = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
      if (ok && value >= least && value <= 0x10FFFF) {
        cp = value;
        used = extra + 1;
      }
    }
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += used;
  }
  return out;
}

}  // namespace hvc::fuzz
