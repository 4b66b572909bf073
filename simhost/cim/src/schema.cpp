#include "simhost/cim/schema.hpp"

#include <algorithm>

namespace simhost::cim {

std::optional<std::size_t> ClassDef::property_index(std::wstring_view name) const {
  auto it = by_name_.find(name);
  if (it == by_name_.end())
    return std::nullopt;
  return it->second;
}

const PropertyDecl* ClassDef::property(std::wstring_view name) const {
  auto i = property_index(name);
  return i ? &properties_[*i] : nullptr;
}

const MethodDecl* ClassDef::method(std::wstring_view name) const {
  for (const ClassDef* c = this; c; c = c->parent_)
    for (const auto& m : c->methods_)
      if (iequals(m.name, name))
        return &m;
  return nullptr;
}

const Qualifier* ClassDef::qualifier(std::wstring_view name) const {
  for (const ClassDef* c = this; c; c = c->parent_)
    for (const auto& q : c->qualifiers_)
      if (iequals(q.name, name))
        return &q;
  return nullptr;
}

bool ClassDef::is_association() const {
  const Qualifier* q = qualifier(L"Association");
  return q && q->value.as_bool().value_or(false);
}

bool ClassDef::is_abstract() const {
  for (const auto& q : qualifiers_)
    if (iequals(q.name, L"Abstract"))
      return q.value.as_bool().value_or(false);
  return false;
}

std::vector<std::wstring> ClassDef::derivation() const {
  std::vector<std::wstring> out;
  for (const ClassDef* c = parent_; c; c = c->parent_)
    out.push_back(c->name_);
  return out;
}

const ClassDef& ClassDef::dynasty() const noexcept {
  const ClassDef* c = this;
  while (c->parent_)
    c = c->parent_;
  return *c;
}

const ClassDef& Schema::add(ClassDecl decl) {
  const std::string cname = narrow(decl.name);
  if (decl.name.empty() || by_name_.count(decl.name))
    throw SchemaError("duplicate or empty class name: " + cname);
  auto def = std::make_unique<ClassDef>();
  def->name_ = std::move(decl.name);
  def->id_ = classes_.size();
  if (!decl.superclass.empty()) {
    auto it = by_name_.find(decl.superclass);
    if (it == by_name_.end())
      throw SchemaError("unknown superclass of " + cname + ": " + narrow(decl.superclass));
    def->parent_ = it->second;
    def->properties_ = it->second->properties_;
    def->by_name_ = it->second->by_name_;
  }
  std::vector<std::wstring> seen;
  for (auto& p : decl.properties) {
    for (const auto& s : seen)
      if (iequals(s, p.name))
        throw SchemaError("duplicate property " + narrow(p.name) + " in " + cname);
    seen.push_back(p.name);
    auto it = def->by_name_.find(p.name);
    if (it != def->by_name_.end()) {
      auto& old = def->properties_[it->second];
      if (old.type.type != p.type.type || old.type.array != p.type.array)
        throw SchemaError("property " + narrow(p.name) + " of " + cname + " changes its type");
      // A redeclaration that adds no key qualifier keeps the inherited one.
      p.key = p.key || old.key;
      old = std::move(p);
    } else {
      def->by_name_.emplace(p.name, def->properties_.size());
      def->properties_.push_back(std::move(p));
    }
  }
  for (std::size_t i = 0; i < def->properties_.size(); ++i)
    if (def->properties_[i].key)
      def->keys_.push_back(i);
  std::sort(def->keys_.begin(), def->keys_.end(), [&](std::size_t a, std::size_t b) {
    return icompare(def->properties_[a].name, def->properties_[b].name) < 0;
  });
  def->methods_ = std::move(decl.methods);
  def->qualifiers_ = std::move(decl.qualifiers);

  ClassDef* raw = def.get();
  // Ids grow as classes are added, so each list stays in id order.
  for (ClassDef* c = raw; c != nullptr; c = const_cast<ClassDef*>(c->parent_))
    c->with_subclasses_.push_back(raw);
  by_name_.emplace(raw->name_, raw);
  classes_.push_back(std::move(def));
  return *raw;
}

const ClassDef* Schema::find(std::wstring_view name) const {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : it->second;
}

bool Schema::is_a(const ClassDef& cls, const ClassDef& ancestor) const noexcept {
  for (const ClassDef* c = &cls; c; c = c->superclass())
    if (c == &ancestor)
      return true;
  return false;
}

bool Schema::is_a(std::wstring_view cls, std::wstring_view ancestor) const {
  const ClassDef* c = find(cls);
  const ClassDef* a = find(ancestor);
  return c && a && is_a(*c, *a);
}

}  // namespace simhost::cim
