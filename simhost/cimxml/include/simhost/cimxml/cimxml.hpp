// DMTF CIM-XML (DSP0201) text of one instance: what IWbemObjectTextSrc::GetText renders in
// format 1, and what the provider parses back from methods that take embedded instances.
#pragma once

#include "simhost/cim/expected.hpp"
#include "simhost/cim/repository.hpp"
#include "simhost/cim/schema.hpp"
#include "simhost/cim/value.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simhost::cimxml {

struct RenderOptions {
  bool include_qualifiers = false;         // the context's IncludeQualifiers
  bool exclude_system_properties = false;  // the context's ExcludeSystemProperties
};

// An object to render: its class, its property values (parallel to cls->properties()), and
// its system properties (__CLASS, __PATH, ...) as the object reports them.
struct InstanceView {
  const cim::ClassDef* cls = nullptr;
  const std::vector<cim::Value>* values = nullptr;
  std::vector<std::pair<std::wstring, cim::Value>> system_properties;
};

// <INSTANCE CLASSNAME="..."> with PROPERTY, PROPERTY.ARRAY and PROPERTY.REFERENCE elements, no
// XML declaration; a null property has no VALUE; booleans are TRUE/FALSE; system properties
// carry CLASSORIGIN="___SYSTEM".
std::wstring render_instance(const InstanceView& object, const RenderOptions& options);

struct ParsedInstance {
  std::wstring class_name;
  cim::PropertyList properties;  // typed by the text's TYPE attributes (or the schema), system properties left out
};

// Parses one <INSTANCE> element (ours, or as Windows writes it). The error text names what is
// wrong; the provider turns any error into ReturnValue 32773.
cim::Expected<ParsedInstance, std::wstring> parse_instance(std::wstring_view text, const cim::Schema& schema);

}  // namespace simhost::cimxml
