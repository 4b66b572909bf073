// Instance -> CIM-XML text, laid out as the WMI text source writes format 1: no declaration,
// system properties first in WMI's own order, then the class's properties by name.
#include "simhost/cimxml/cimxml.hpp"

#include "simhost/cim/path.hpp"
#include "simhost/cim/text.hpp"
#include "xml.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <stdexcept>

namespace simhost::cimxml {
namespace {

using cim::CimType;
using cim::Scalar;
using cim::Value;

constexpr std::wstring_view kSystemOrigin = L"___SYSTEM";

// The order in which WMI lists the system properties of an object it renders as text.
constexpr std::wstring_view kSystemOrder[] = {
    L"__PATH",    L"__NAMESPACE", L"__SERVER",     L"__DERIVATION", L"__PROPERTY_COUNT",
    L"__RELPATH", L"__DYNASTY",   L"__SUPERCLASS", L"__CLASS",      L"__GENUS",
};

std::size_t system_rank(std::wstring_view name) {
  for (std::size_t i = 0; i < std::size(kSystemOrder); ++i)
    if (cim::iequals(kSystemOrder[i], name))
      return i;
  return std::size(kSystemOrder);
}

void attr(std::wstring& out, std::wstring_view name, std::wstring_view value) {
  out += L' ';
  out += name;
  out += L"=\"";
  xml::append_escaped(out, value, true);
  out += L'"';
}

// Shortest decimal text that reads back as the same number.
std::wstring real_text(double d, bool single) {
  if (std::isnan(d))
    return L"NaN";
  if (std::isinf(d))
    return d < 0 ? L"-INF" : L"INF";
  wchar_t buf[64];
  for (int precision = 1; precision <= 17; ++precision) {
    std::swprintf(buf, 64, L"%.*g", precision, d);
    const double back = std::wcstod(buf, nullptr);
    if (single ? static_cast<float>(back) == static_cast<float>(d) : back == d)
      break;
  }
  return buf;
}

std::wstring value_text(CimType type, const Scalar& s) {
  if (type == CimType::Char16)
    if (auto code = std::get_if<std::uint64_t>(&s))
      return std::wstring(1, static_cast<wchar_t>(*code));
  if (auto d = std::get_if<double>(&s))
    return real_text(*d, type == CimType::Real32);
  return cim::scalar_text(s);
}

void value_element(std::wstring& out, CimType type, const Scalar& s) {
  out += L"<VALUE>";
  xml::append_escaped(out, value_text(type, s), false);
  out += L"</VALUE>";
}

// VALUE or VALUE.ARRAY for a non-null value; nothing for null.
void values(std::wstring& out, const Value& v) {
  if (v.is_null())
    return;
  if (!v.is_array()) {
    value_element(out, v.type(), v.get());
    return;
  }
  out += L"<VALUE.ARRAY>";
  for (const auto& item : v.items())
    value_element(out, v.type(), item);
  out += L"</VALUE.ARRAY>";
}

void key_value(std::wstring& out, const cim::KeyBinding& k) {
  const bool boolean = !k.quoted && (cim::iequals(k.value, L"TRUE") || cim::iequals(k.value, L"FALSE"));
  out += L"<KEYVALUE";
  attr(out, L"VALUETYPE", k.quoted ? L"string" : boolean ? L"boolean" : L"numeric");
  out += L'>';
  xml::append_escaped(out, k.value, false);
  out += L"</KEYVALUE>";
}

void instance_name(std::wstring& out, const cim::ObjectPath& p) {
  out += L"<INSTANCENAME";
  attr(out, L"CLASSNAME", p.class_name);
  out += L'>';
  for (const auto& k : p.keys) {
    if (k.name.empty()) {
      key_value(out, k);
      continue;
    }
    out += L"<KEYBINDING";
    attr(out, L"NAME", k.name);
    out += L'>';
    key_value(out, k);
    out += L"</KEYBINDING>";
  }
  out += L"</INSTANCENAME>";
}

// WMI hands reference values to the encoder as object paths and it writes them structured:
// INSTANCEPATH for a full path, LOCALINSTANCEPATH with a namespace only, INSTANCENAME otherwise.
void reference_value(std::wstring& out, const std::wstring& path_text) {
  out += L"<VALUE.REFERENCE>";
  const auto p = cim::ObjectPath::parse(path_text);
  if (!p || p->is_class()) {
    // Not an instance path (the repository never stores one); keep the text readable.
    xml::append_escaped(out, path_text, false);
    out += L"</VALUE.REFERENCE>";
    return;
  }
  const auto namespaces = [&] {
    out += L"<LOCALNAMESPACEPATH>";
    std::size_t start = 0;
    for (;;) {
      const std::size_t sep = p->ns.find(L'\\', start);
      out += L"<NAMESPACE";
      attr(out, L"NAME", std::wstring_view(p->ns).substr(start, sep - start));
      out += L"/>";
      if (sep == std::wstring::npos)
        break;
      start = sep + 1;
    }
    out += L"</LOCALNAMESPACEPATH>";
  };
  if (!p->server.empty()) {
    out += L"<INSTANCEPATH><NAMESPACEPATH><HOST>";
    xml::append_escaped(out, p->server, false);
    out += L"</HOST>";
    namespaces();
    out += L"</NAMESPACEPATH>";
    instance_name(out, *p);
    out += L"</INSTANCEPATH>";
  } else if (!p->ns.empty()) {
    out += L"<LOCALINSTANCEPATH>";
    namespaces();
    instance_name(out, *p);
    out += L"</LOCALINSTANCEPATH>";
  } else {
    instance_name(out, *p);
  }
  out += L"</VALUE.REFERENCE>";
}

struct QualifierOut {
  std::wstring_view name;
  Value value;
};

// Every qualifier an instance shows comes from its class, hence PROPAGATED. Flavors are written
// only where they differ from the CIM-XML defaults: key and Association cannot be overridden,
// CIMTYPE travels to instances.
void qualifiers(std::wstring& out, std::vector<QualifierOut> list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const QualifierOut& a, const QualifierOut& b) { return cim::icompare(a.name, b.name) < 0; });
  for (const auto& q : list) {
    out += L"<QUALIFIER";
    attr(out, L"NAME", q.name);
    attr(out, L"TYPE", cim::type_name(q.value.type()));
    attr(out, L"PROPAGATED", L"true");
    if (cim::iequals(q.name, L"key") || cim::iequals(q.name, L"Association"))
      attr(out, L"OVERRIDABLE", L"false");
    if (cim::iequals(q.name, L"CIMTYPE"))
      attr(out, L"TOINSTANCE", L"true");
    out += L'>';
    values(out, q.value);
    out += L"</QUALIFIER>";
  }
}

void add_unique(std::vector<QualifierOut>& list, std::wstring_view name, const Value& value) {
  for (const auto& q : list)
    if (cim::iequals(q.name, name))
      return;
  list.push_back({name, value});
}

// The class that introduced the property: the highest ancestor that still has it.
const cim::ClassDef& class_origin(const cim::ClassDef& cls, std::wstring_view property) {
  const cim::ClassDef* origin = &cls;
  while (origin->superclass() && origin->superclass()->property(property))
    origin = origin->superclass();
  return *origin;
}

void system_property(std::wstring& out, std::wstring_view name, const Value& v) {
  const std::wstring_view element = v.is_array() ? L"PROPERTY.ARRAY" : L"PROPERTY";
  out += L'<';
  out += element;
  attr(out, L"NAME", name);
  attr(out, L"CLASSORIGIN", kSystemOrigin);
  attr(out, L"TYPE", cim::type_name(v.type()));
  out += L'>';
  values(out, v);
  out += L"</";
  out += element;
  out += L'>';
}

void property(std::wstring& out, const cim::ClassDef& cls, const cim::PropertyDecl& decl, const Value& v,
              const RenderOptions& options) {
  const bool reference = decl.type.type == CimType::Reference && !decl.type.array;
  const std::wstring_view element = reference         ? L"PROPERTY.REFERENCE"
                                    : decl.type.array ? L"PROPERTY.ARRAY"
                                                      : L"PROPERTY";
  out += L'<';
  out += element;
  attr(out, L"NAME", decl.name);
  if (reference && !decl.type.ref_class.empty())
    attr(out, L"REFERENCECLASS", decl.type.ref_class);
  attr(out, L"CLASSORIGIN", class_origin(cls, decl.name).name());
  // WMI marks PROPAGATED only where an instance still shows its class's default value; the
  // host's instances carry every value themselves, so it never appears here.
  if (!reference)
    attr(out, L"TYPE", cim::type_name(decl.type.type));
  out += L'>';

  if (options.include_qualifiers) {
    std::vector<QualifierOut> list;
    const std::wstring cimtype = decl.type.type == CimType::Reference ? L"ref:" + decl.type.ref_class
                                                                      : std::wstring(cim::type_name(decl.type.type));
    list.push_back({L"CIMTYPE", Value::string(cimtype)});
    if (decl.key)
      list.push_back({L"key", Value::boolean(true)});
    for (const auto& q : decl.qualifiers)
      add_unique(list, q.name, q.value);
    qualifiers(out, std::move(list));
  }

  // A value whose shape does not match the declaration cannot be written faithfully: show it
  // as unset rather than as something it is not.
  const bool fits = !v.is_null() && v.is_array() == decl.type.array;
  if (fits && reference) {
    if (const std::wstring* text = v.as_string())
      reference_value(out, *text);
  } else if (fits) {
    values(out, v);
  }
  out += L"</";
  out += element;
  out += L'>';
}

}  // namespace

std::wstring render_instance(const InstanceView& object, const RenderOptions& options) {
  if (!object.cls || !object.values || object.values->size() != object.cls->properties().size())
    throw std::invalid_argument("render_instance: class and values do not match");
  const cim::ClassDef& cls = *object.cls;

  std::wstring out = L"<INSTANCE";
  attr(out, L"CLASSNAME", cls.name());
  out += L'>';

  if (options.include_qualifiers) {
    // Class qualifiers, nearest class first; Abstract never reaches subclasses or instances.
    std::vector<QualifierOut> list;
    for (const cim::ClassDef* c = &cls; c; c = c->superclass())
      for (const auto& q : c->qualifiers())
        if (!cim::iequals(q.name, L"Abstract"))
          add_unique(list, q.name, q.value);
    qualifiers(out, std::move(list));
  }

  if (!options.exclude_system_properties) {
    std::vector<const std::pair<std::wstring, Value>*> system;
    for (const auto& sp : object.system_properties)
      system.push_back(&sp);
    std::stable_sort(system.begin(), system.end(),
                     [](auto* a, auto* b) { return system_rank(a->first) < system_rank(b->first); });
    for (const auto* sp : system)
      system_property(out, sp->first, sp->second);
  }

  const auto& decls = cls.properties();
  std::vector<std::size_t> order(decls.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return cim::icompare(decls[a].name, decls[b].name) < 0; });
  for (std::size_t i : order)
    property(out, cls, decls[i], (*object.values)[i], options);

  out += L"</INSTANCE>";
  return out;
}

}  // namespace simhost::cimxml
