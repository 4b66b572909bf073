// A small, strict XML reader for the subset CIM-XML instance text uses: elements, attributes,
// character data with the predefined and numeric references, CDATA, comments and an optional
// leading declaration. No DTDs, no namespaces, no other processing instructions.
#pragma once

#include "simhost/cim/expected.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simhost::cimxml::xml {

struct Element {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;  // in document order, decoded
  std::vector<Element> children;
  std::wstring text;  // all character data directly inside, decoded and concatenated

  const std::wstring* attribute(std::wstring_view attr) const;
  // True when the element's own character data is nothing but XML whitespace.
  bool blank_text() const;
};

// Parses a document with exactly one root element. The error text says what is wrong and at
// which character.
cim::Expected<Element, std::wstring> parse(std::wstring_view text);

bool is_space(wchar_t c) noexcept;

// Escapes character data (`in_attribute` also escapes `"` and the whitespace an XML reader
// would fold into spaces). Control characters become &#x..; references.
void append_escaped(std::wstring& out, std::wstring_view text, bool in_attribute);

}  // namespace simhost::cimxml::xml
