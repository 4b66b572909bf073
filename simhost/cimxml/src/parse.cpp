// CIM-XML instance text -> class name and typed property values. Accepts what the host writes
// and what Windows writes: qualifiers, CLASSORIGIN/PROPAGATED/EmbeddedObject attributes,
// structured or plain-text references, and whitespace between elements.
#include "simhost/cimxml/cimxml.hpp"

#include "simhost/cim/path.hpp"
#include "simhost/cim/text.hpp"
#include "xml.hpp"

#include <limits>

namespace simhost::cimxml {
namespace {

using cim::CimType;
using cim::Value;
using xml::Element;

using Error = std::wstring;

template <class T>
using Result = cim::Expected<T, Error>;

template <class T>
Result<T> fail(Error e) {
  return Result<T>::failure(std::move(e));
}

std::wstring trimmed(std::wstring_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && xml::is_space(s[b]))
    ++b;
  while (e > b && xml::is_space(s[e - 1]))
    --e;
  return std::wstring(s.substr(b, e - b));
}

// A required, non-empty attribute.
Result<std::wstring> required(const Element& e, std::wstring_view name) {
  const std::wstring* v = e.attribute(name);
  if (!v || v->empty())
    return fail<std::wstring>(L"<" + e.name + L"> has no " + std::wstring(name));
  return *v;
}

// Only the listed child elements, and no stray text, may appear in `e`.
Result<bool> only_children(const Element& e, std::initializer_list<std::wstring_view> allowed) {
  if (!e.blank_text())
    return fail<bool>(L"unexpected text in <" + e.name + L">");
  for (const auto& child : e.children) {
    bool ok = false;
    for (auto name : allowed)
      ok = ok || child.name == name;
    if (!ok)
      return fail<bool>(L"unexpected element <" + child.name + L"> in <" + e.name + L">");
  }
  return true;
}

Result<bool> leaf(const Element& e) {
  if (!e.children.empty())
    return fail<bool>(L"unexpected element <" + e.children.front().name + L"> in <" + e.name + L">");
  return true;
}

// ---- references --------------------------------------------------------------------------

Result<std::wstring> reference_text(const Element& value_reference);

Result<std::wstring> namespace_path(const Element& local) {
  if (auto ok = only_children(local, {L"NAMESPACE"}); !ok)
    return fail<std::wstring>(ok.error());
  if (local.children.empty())
    return fail<std::wstring>(L"<LOCALNAMESPACEPATH> names no namespace");
  std::wstring ns;
  for (const auto& n : local.children) {
    auto name = required(n, L"NAME");
    if (!name)
      return name;
    if (!ns.empty())
      ns += L'\\';
    ns += *name;
  }
  return ns;
}

Result<cim::KeyBinding> key_binding_value(const Element& v, std::wstring name) {
  if (v.name == L"VALUE.REFERENCE") {
    auto path = reference_text(v);
    if (!path)
      return fail<cim::KeyBinding>(path.error());
    return cim::KeyBinding{std::move(name), std::move(*path), true};
  }
  if (auto ok = leaf(v); !ok)
    return fail<cim::KeyBinding>(ok.error());
  const std::wstring* type = v.attribute(L"VALUETYPE");
  if (!type || *type == L"string")
    return cim::KeyBinding{std::move(name), v.text, true};
  if (*type != L"numeric" && *type != L"boolean")
    return fail<cim::KeyBinding>(L"<KEYVALUE> has an unknown VALUETYPE \"" + *type + L"\"");
  return cim::KeyBinding{std::move(name), trimmed(v.text), false};
}

Result<cim::ObjectPath> instance_name(const Element& e) {
  cim::ObjectPath p;
  auto cls = required(e, L"CLASSNAME");
  if (!cls)
    return fail<cim::ObjectPath>(cls.error());
  p.class_name = std::move(*cls);
  if (auto ok = only_children(e, {L"KEYBINDING", L"KEYVALUE", L"VALUE.REFERENCE"}); !ok)
    return fail<cim::ObjectPath>(ok.error());
  for (const auto& child : e.children) {
    if (child.name != L"KEYBINDING") {
      // The short form: a single key value without a name.
      if (e.children.size() != 1)
        return fail<cim::ObjectPath>(L"<INSTANCENAME> mixes an unnamed key with others");
      auto k = key_binding_value(child, L"");
      if (!k)
        return fail<cim::ObjectPath>(k.error());
      p.keys.push_back(std::move(*k));
      continue;
    }
    auto name = required(child, L"NAME");
    if (!name)
      return fail<cim::ObjectPath>(name.error());
    if (auto ok = only_children(child, {L"KEYVALUE", L"VALUE.REFERENCE"}); !ok)
      return fail<cim::ObjectPath>(ok.error());
    if (child.children.size() != 1)
      return fail<cim::ObjectPath>(L"<KEYBINDING NAME=\"" + *name + L"\"> needs exactly one value");
    auto k = key_binding_value(child.children.front(), *name);
    if (!k)
      return fail<cim::ObjectPath>(k.error());
    p.keys.push_back(std::move(*k));
  }
  return p;
}

// The pieces of INSTANCEPATH / LOCALINSTANCEPATH / INSTANCENAME (and the class forms) as the
// WMI object path text the rest of the host works with.
Result<std::wstring> reference_text(const Element& vr) {
  if (vr.children.empty()) {
    // Plain path text, as some writers put it.
    std::wstring text = trimmed(vr.text);
    if (!cim::ObjectPath::parse(text))
      return fail<std::wstring>(L"<VALUE.REFERENCE> holds no valid object path");
    return text;
  }
  if (auto ok = only_children(
          vr, {L"INSTANCEPATH", L"LOCALINSTANCEPATH", L"INSTANCENAME", L"CLASSPATH", L"LOCALCLASSPATH", L"CLASSNAME"});
      !ok)
    return fail<std::wstring>(ok.error());
  if (vr.children.size() != 1)
    return fail<std::wstring>(L"<VALUE.REFERENCE> needs exactly one path");
  const Element& path = vr.children.front();

  std::wstring server;
  std::wstring ns;
  const Element* name = &path;
  if (path.name == L"INSTANCEPATH" || path.name == L"CLASSPATH" || path.name == L"LOCALINSTANCEPATH" ||
      path.name == L"LOCALCLASSPATH") {
    const bool local = path.name.starts_with(L"LOCAL");
    const bool instance = path.name.ends_with(L"INSTANCEPATH");
    const std::wstring_view nspath = local ? L"LOCALNAMESPACEPATH" : L"NAMESPACEPATH";
    const std::wstring_view inner = instance ? L"INSTANCENAME" : L"CLASSNAME";
    if (auto ok = only_children(path, {nspath, inner}); !ok)
      return fail<std::wstring>(ok.error());
    if (path.children.size() != 2 || path.children[0].name != nspath || path.children[1].name != inner)
      return fail<std::wstring>(L"<" + path.name + L"> needs <" + std::wstring(nspath) + L"> then <" +
                                std::wstring(inner) + L">");
    const Element* local_ns = &path.children[0];
    if (!local) {
      const Element& np = path.children[0];
      if (auto ok = only_children(np, {L"HOST", L"LOCALNAMESPACEPATH"}); !ok)
        return fail<std::wstring>(ok.error());
      if (np.children.size() != 2 || np.children[0].name != L"HOST")
        return fail<std::wstring>(L"<NAMESPACEPATH> needs <HOST> then <LOCALNAMESPACEPATH>");
      if (auto ok = leaf(np.children[0]); !ok)
        return fail<std::wstring>(ok.error());
      server = trimmed(np.children[0].text);
      if (server.empty())
        return fail<std::wstring>(L"<HOST> is empty");
      local_ns = &np.children[1];
    }
    auto n = namespace_path(*local_ns);
    if (!n)
      return n;
    ns = std::move(*n);
    name = &path.children[1];
  }

  cim::ObjectPath p;
  if (name->name == L"CLASSNAME") {
    auto cls = required(*name, L"NAME");
    if (!cls)
      return cls;
    if (auto ok = leaf(*name); !ok)
      return fail<std::wstring>(ok.error());
    p.class_name = std::move(*cls);
  } else {
    auto inst = instance_name(*name);
    if (!inst)
      return fail<std::wstring>(inst.error());
    p = std::move(*inst);
  }
  std::wstring text =
      cim::make_path(std::move(server), std::move(ns), std::move(p.class_name), std::move(p.keys)).str();
  if (!cim::ObjectPath::parse(text))
    return fail<std::wstring>(L"<VALUE.REFERENCE> does not make a valid object path");
  return text;
}

// ---- values ------------------------------------------------------------------------------

std::optional<double> named_real(std::wstring_view t) {
  if (t == L"NaN")
    return std::numeric_limits<double>::quiet_NaN();
  if (t == L"INF" || t == L"+INF")
    return std::numeric_limits<double>::infinity();
  if (t == L"-INF")
    return -std::numeric_limits<double>::infinity();
  return std::nullopt;
}

// One VALUE's text as a scalar of `type`.
Result<cim::Scalar> scalar(const std::wstring& text, CimType type, const std::wstring& property) {
  const auto mismatch = [&](std::wstring_view why) {
    return fail<cim::Scalar>(L"property " + property + L": value \"" + text + L"\" " + std::wstring(why) + L" " +
                             std::wstring(cim::type_name(type)));
  };
  // Text types keep their characters; the others may be padded by a pretty printer.
  const std::wstring t = cim::is_textual(type) || type == CimType::Char16 ? text : trimmed(text);
  if (cim::is_real(type))
    if (auto named = named_real(t))
      return cim::Scalar{*named};
  Value out;
  switch (cim::convert(Value::string(t), type, false, out)) {
    case cim::Conversion::ok:
      return out.get();
    case cim::Conversion::out_of_range:
      return mismatch(L"is out of range for");
    default:
      return mismatch(L"is not a");
  }
}

Result<Value> value_of(const Element& value, CimType type, const std::wstring& property) {
  if (auto ok = leaf(value); !ok)
    return fail<Value>(L"property " + property + L": " + ok.error());
  auto s = scalar(value.text, type, property);
  if (!s)
    return fail<Value>(s.error());
  return Value::scalar(type, std::move(*s));
}

Result<Value> array_of(const Element& array, CimType type, const std::wstring& property) {
  if (auto ok = only_children(array, {L"VALUE", L"VALUE.NULL"}); !ok)
    return fail<Value>(L"property " + property + L": " + ok.error());
  std::vector<cim::Scalar> items;
  for (const auto& v : array.children) {
    if (v.name == L"VALUE.NULL")
      return fail<Value>(L"property " + property + L": arrays cannot hold null elements");
    if (auto ok = leaf(v); !ok)
      return fail<Value>(L"property " + property + L": " + ok.error());
    auto s = scalar(v.text, type, property);
    if (!s)
      return fail<Value>(s.error());
    items.push_back(std::move(*s));
  }
  return Value::array(type, std::move(items));
}

// ---- properties --------------------------------------------------------------------------

Result<Value> property_value(const Element& e, const std::wstring& name, const cim::ClassDef* cls) {
  const bool reference = e.name == L"PROPERTY.REFERENCE";
  const bool array = e.name == L"PROPERTY.ARRAY";
  const std::wstring_view payload = reference ? L"VALUE.REFERENCE" : array ? L"VALUE.ARRAY" : L"VALUE";

  CimType type = CimType::Reference;
  if (!reference) {
    if (const std::wstring* t = e.attribute(L"TYPE")) {
      auto parsed = cim::type_from_name(*t);
      if (!parsed)
        return fail<Value>(L"property " + name + L": unknown TYPE \"" + *t + L"\"");
      type = *parsed;
    } else if (const cim::PropertyDecl* decl = cls ? cls->property(name) : nullptr) {
      type = decl->type.type;
    } else {
      return fail<Value>(L"property " + name + L": no TYPE, and its class does not declare it");
    }
  }

  if (auto ok = only_children(e, {L"QUALIFIER", payload}); !ok)
    return fail<Value>(L"property " + name + L": " + ok.error());
  const Element* content = nullptr;
  for (const auto& child : e.children) {
    if (child.name == L"QUALIFIER") {
      if (content)
        return fail<Value>(L"property " + name + L": <QUALIFIER> after the value");
      continue;
    }
    if (content)
      return fail<Value>(L"property " + name + L": more than one <" + child.name + L">");
    content = &child;
  }
  if (!content)
    return Value::null(type, array);
  if (reference) {
    auto path = reference_text(*content);
    if (!path)
      return fail<Value>(L"property " + name + L": " + path.error());
    return Value::reference(std::move(*path));
  }
  return array ? array_of(*content, type, name) : value_of(*content, type, name);
}

bool is_system_name(std::wstring_view name) {
  return name.size() > 2 && name.substr(0, 2) == L"__";
}

}  // namespace

cim::Expected<ParsedInstance, std::wstring> parse_instance(std::wstring_view text, const cim::Schema& schema) {
  using Out = cim::Expected<ParsedInstance, std::wstring>;
  auto doc = xml::parse(text);
  if (!doc)
    return Out::failure(doc.error());
  const Element& root = *doc;
  if (root.name != L"INSTANCE")
    return Out::failure(L"expected <INSTANCE>, found <" + root.name + L">");
  auto cls_name = required(root, L"CLASSNAME");
  if (!cls_name)
    return Out::failure(cls_name.error());
  if (auto ok = only_children(root, {L"QUALIFIER", L"PROPERTY", L"PROPERTY.ARRAY", L"PROPERTY.REFERENCE"}); !ok)
    return Out::failure(ok.error());

  ParsedInstance result;
  result.class_name = std::move(*cls_name);
  const cim::ClassDef* cls = schema.find(result.class_name);
  for (const auto& e : root.children) {
    if (e.name == L"QUALIFIER")
      continue;
    auto name = required(e, L"NAME");
    if (!name)
      return Out::failure(name.error());
    if (is_system_name(*name))
      continue;
    for (const auto& [seen, v] : result.properties)
      if (cim::iequals(seen, *name))
        return Out::failure(L"property " + *name + L" appears twice");
    auto value = property_value(e, *name, cls);
    if (!value)
      return Out::failure(value.error());
    result.properties.emplace_back(std::move(*name), std::move(*value));
  }
  return result;
}

}  // namespace simhost::cimxml
