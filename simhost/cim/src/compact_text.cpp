#include "simhost/cim/compact_text.hpp"

#include <cstring>

#include "textlanes/lanes.h"

namespace simhost::cim {

CompactText::CompactText(std::wstring_view text) {
  if (textlanes::UnitBits(text.data(), text.size()) >= 0x100) {
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
  textlanes::Widen(bytes.data() + from, bytes.size() - from, out);
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
  return bytes.size() == b.size() && textlanes::SameText(bytes.data(), b.data(), b.size());
}

}  // namespace simhost::cim
