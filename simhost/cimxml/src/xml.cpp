#include "xml.hpp"

#include <cstdint>

namespace simhost::cimxml::xml {
namespace {

// Deep enough for any instance text, shallow enough that hostile input cannot exhaust the stack.
constexpr std::size_t kMaxDepth = 32;

bool name_start(wchar_t c) noexcept {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c == L':' ||
         static_cast<unsigned long>(c) >= 0x80;
}

bool name_char(wchar_t c) noexcept {
  return name_start(c) || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
}

void append_code_point(std::wstring& out, std::uint32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

class Reader {
 public:
  explicit Reader(std::wstring_view text) : s_(text) {}

  cim::Expected<Element, std::wstring> document() {
    if (!s_.empty() && s_[0] == L'\xFEFF')
      ++i_;
    skip_space();
    if (starts(L"<?xml") && i_ + 5 < s_.size() && is_space(s_[i_ + 5])) {
      const std::size_t end = s_.find(L"?>", i_);
      if (end == std::wstring_view::npos)
        return fail(L"unterminated XML declaration");
      i_ = end + 2;
    }
    if (!misc())
      return failure();
    if (i_ >= s_.size() || s_[i_] != L'<')
      return fail(i_ >= s_.size() ? L"no root element" : L"text before the root element");
    Element root;
    if (!element(root, 0))
      return failure();
    if (!misc())
      return failure();
    if (i_ < s_.size())
      return fail(L"content after the root element");
    return root;
  }

 private:
  cim::Expected<Element, std::wstring> fail(std::wstring_view what) {
    error(what);
    return failure();
  }
  cim::Expected<Element, std::wstring> failure() { return cim::Expected<Element, std::wstring>::failure(error_); }

  bool error(std::wstring_view what) {
    if (error_.empty())
      error_ = L"malformed XML at character " + std::to_wstring(i_) + L": " + std::wstring(what);
    return false;
  }

  bool starts(std::wstring_view token) const { return s_.substr(i_, token.size()) == token; }

  void skip_space() {
    while (i_ < s_.size() && is_space(s_[i_]))
      ++i_;
  }

  // Whitespace and comments outside the root element.
  bool misc() {
    for (;;) {
      skip_space();
      if (starts(L"<!--")) {
        if (!comment())
          return false;
      } else if (starts(L"<?") || starts(L"<!")) {
        return error(L"processing instructions and declarations are not accepted here");
      } else {
        return true;
      }
    }
  }

  bool comment() {
    const std::size_t end = s_.find(L"-->", i_ + 4);
    if (end == std::wstring_view::npos)
      return error(L"unterminated comment");
    i_ = end + 3;
    return true;
  }

  bool name(std::wstring& out) {
    if (i_ >= s_.size() || !name_start(s_[i_]))
      return error(L"expected a name");
    const std::size_t start = i_;
    while (i_ < s_.size() && name_char(s_[i_]))
      ++i_;
    out.assign(s_.substr(start, i_ - start));
    return true;
  }

  // At '&': appends the referenced character.
  bool reference(std::wstring& out) {
    const std::size_t semi = s_.find(L';', i_);
    if (semi == std::wstring_view::npos || semi - i_ > 12)
      return error(L"unterminated character reference");
    const std::wstring_view ref = s_.substr(i_ + 1, semi - i_ - 1);
    if (ref == L"amp")
      out += L'&';
    else if (ref == L"lt")
      out += L'<';
    else if (ref == L"gt")
      out += L'>';
    else if (ref == L"quot")
      out += L'"';
    else if (ref == L"apos")
      out += L'\'';
    else if (ref.size() >= 2 && ref[0] == L'#') {
      const bool hex = ref[1] == L'x';
      const std::wstring_view digits = ref.substr(hex ? 2 : 1);
      if (digits.empty())
        return error(L"empty character reference");
      std::uint32_t cp = 0;
      for (wchar_t c : digits) {
        std::uint32_t d;
        if (c >= L'0' && c <= L'9')
          d = static_cast<std::uint32_t>(c - L'0');
        else if (hex && c >= L'a' && c <= L'f')
          d = static_cast<std::uint32_t>(c - L'a' + 10);
        else if (hex && c >= L'A' && c <= L'F')
          d = static_cast<std::uint32_t>(c - L'A' + 10);
        else
          return error(L"bad digit in character reference");
        cp = cp * (hex ? 16U : 10U) + d;
        if (cp > 0x10FFFF)
          return error(L"character reference out of range");
      }
      if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
        return error(L"character reference to an invalid character");
      append_code_point(out, cp);
    } else {
      return error(L"unknown entity &" + std::wstring(ref) + L";");
    }
    i_ = semi + 1;
    return true;
  }

  bool attribute_value(std::wstring& out) {
    if (i_ >= s_.size() || (s_[i_] != L'"' && s_[i_] != L'\''))
      return error(L"expected a quoted attribute value");
    const wchar_t quote = s_[i_++];
    for (;;) {
      if (i_ >= s_.size())
        return error(L"unterminated attribute value");
      const wchar_t c = s_[i_];
      if (c == quote) {
        ++i_;
        return true;
      }
      if (c == L'<')
        return error(L"'<' in an attribute value");
      if (c == L'&') {
        if (!reference(out))
          return false;
        continue;
      }
      // Literal line breaks and tabs read as spaces; references keep them.
      out += (c == L'\t' || c == L'\n' || c == L'\r') ? L' ' : c;
      ++i_;
    }
  }

  // At '<' of a start tag.
  bool element(Element& e, std::size_t depth) {
    if (depth >= kMaxDepth)
      return error(L"elements nested too deeply");
    ++i_;
    if (!name(e.name))
      return false;
    for (;;) {
      const std::size_t before = i_;
      skip_space();
      if (i_ >= s_.size())
        return error(L"unterminated start tag <" + e.name + L">");
      if (starts(L"/>")) {
        i_ += 2;
        return true;
      }
      if (s_[i_] == L'>') {
        ++i_;
        break;
      }
      if (i_ == before)
        return error(L"expected whitespace between attributes of <" + e.name + L">");
      std::wstring attr;
      if (!name(attr))
        return false;
      if (e.attribute(attr))
        return error(L"duplicate attribute " + attr + L" in <" + e.name + L">");
      skip_space();
      if (i_ >= s_.size() || s_[i_] != L'=')
        return error(L"expected '=' after attribute " + attr);
      ++i_;
      skip_space();
      std::wstring value;
      if (!attribute_value(value))
        return false;
      e.attributes.emplace_back(std::move(attr), std::move(value));
    }
    return content(e, depth);
  }

  bool content(Element& e, std::size_t depth) {
    for (;;) {
      if (i_ >= s_.size())
        return error(L"element <" + e.name + L"> is not closed");
      const wchar_t c = s_[i_];
      if (c == L'&') {
        if (!reference(e.text))
          return false;
      } else if (c != L'<') {
        e.text += c;
        ++i_;
      } else if (starts(L"</")) {
        i_ += 2;
        std::wstring closing;
        if (!name(closing))
          return false;
        if (closing != e.name)
          return error(L"</" + closing + L"> closes <" + e.name + L">");
        skip_space();
        if (i_ >= s_.size() || s_[i_] != L'>')
          return error(L"expected '>' in </" + closing + L">");
        ++i_;
        return true;
      } else if (starts(L"<!--")) {
        if (!comment())
          return false;
      } else if (starts(L"<![CDATA[")) {
        const std::size_t end = s_.find(L"]]>", i_ + 9);
        if (end == std::wstring_view::npos)
          return error(L"unterminated CDATA section");
        e.text.append(s_.substr(i_ + 9, end - i_ - 9));
        i_ = end + 3;
      } else if (starts(L"<?") || starts(L"<!")) {
        return error(L"processing instructions and declarations are not accepted inside <" + e.name + L">");
      } else {
        e.children.emplace_back();
        if (!element(e.children.back(), depth + 1))
          return false;
      }
    }
  }

  std::wstring_view s_;
  std::size_t i_ = 0;
  std::wstring error_;
};

}  // namespace

bool is_space(wchar_t c) noexcept {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

const std::wstring* Element::attribute(std::wstring_view attr) const {
  for (const auto& [k, v] : attributes)
    if (k == attr)
      return &v;
  return nullptr;
}

bool Element::blank_text() const {
  for (wchar_t c : text)
    if (!is_space(c))
      return false;
  return true;
}

cim::Expected<Element, std::wstring> parse(std::wstring_view text) {
  return Reader(text).document();
}

void append_escaped(std::wstring& out, std::wstring_view text, bool in_attribute) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  for (wchar_t c : text) {
    switch (c) {
      case L'&':
        out += L"&amp;";
        continue;
      case L'<':
        out += L"&lt;";
        continue;
      case L'>':
        out += L"&gt;";
        continue;
      case L'"':
        if (in_attribute) {
          out += L"&quot;";
          continue;
        }
        break;
      default:
        break;
    }
    const auto code = static_cast<unsigned long>(c);
    // A reader keeps tabs and line feeds in character data as they are, but folds them to
    // spaces in attributes and turns a carriage return into a line feed everywhere.
    const bool keep = !in_attribute && (c == L'\t' || c == L'\n');
    if (code < 0x20 && !keep) {
      out += L"&#x";
      if (code >= 0x10)
        out += kHex[code >> 4];
      out += kHex[code & 0xF];
      out += L';';
    } else {
      out += c;
    }
  }
}

}  // namespace simhost::cimxml::xml
