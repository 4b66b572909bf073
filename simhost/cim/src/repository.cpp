#include "simhost/cim/repository.hpp"

#include "simhost/cim/line_aligned.hpp"
#include "simhost/cim/text.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace simhost::cim {

namespace {

void append_folded(std::string& key, std::wstring_view text) {
  for (const wchar_t c : text) {
    const auto folded = static_cast<std::uint32_t>(fold(c));
    if (folded < 0x80) {
      key += static_cast<char>(folded);
      continue;
    }
    key += static_cast<char>(0xFF);
    for (int shift = 24; shift >= 0; shift -= 8)
      key += static_cast<char>((folded >> shift) & 0xFF);
  }
}

void append_part(std::string& key, std::wstring_view text) {
  // Length-prefixed so that no value can imitate a separator.
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, text.size()).ptr;
  key += '|';
  key.append(digits, end);
  key += ':';
  append_folded(key, text);
}

// A key begins with its class; room for the usual few parts after it.
std::string class_key(std::wstring_view class_name) {
  std::string key;
  key.reserve(64);
  append_folded(key, class_name);
  return key;
}

// Unquoted path values are numbers or booleans; bring them to the text an instance's value gives.
std::wstring canonical_unquoted(const std::wstring& text) {
  if (iequals(text, L"TRUE") || iequals(text, L"FALSE"))
    return iequals(text, L"TRUE") ? L"TRUE" : L"FALSE";
  Value out;
  if (convert(Value::string(text), CimType::UInt64, false, out) == Conversion::ok ||
      convert(Value::string(text), CimType::SInt64, false, out) == Conversion::ok)
    return scalar_text(out.get());
  return text;
}

bool quoted_type(CimType t) noexcept {
  return is_textual(t) || t == CimType::Char16;
}

const std::vector<std::wstring_view> kSystemProperties = {
    L"__CLASS",     L"__SUPERCLASS", L"__DERIVATION", L"__PATH",    L"__RELPATH",
    L"__NAMESPACE", L"__SERVER",     L"__GENUS",      L"__DYNASTY", L"__PROPERTY_COUNT",
};

}  // namespace

Repository::Repository(const Schema& schema, std::wstring server, std::wstring ns)
    : schema_(&schema), server_(std::move(server)), ns_(std::move(ns)) {}

Repository::Slot* Repository::slot(InstanceId id) noexcept {
  if (id == 0 || id > slots_.size() || !slots_[id - 1].inst)
    return nullptr;
  return &slots_[id - 1];
}

const Repository::Slot* Repository::slot(InstanceId id) const noexcept {
  if (id == 0 || id > slots_.size() || !slots_[id - 1].inst)
    return nullptr;
  return &slots_[id - 1];
}

const Instance* Repository::get(InstanceId id) const noexcept {
  const Slot* s = slot(id);
  return s ? s->inst.get() : nullptr;
}

Snapshot Repository::snapshot(InstanceId id) const noexcept {
  const Slot* s = slot(id);
  return s ? Snapshot(s->inst) : nullptr;
}

void Repository::prefetch(InstanceId id, Level level) const noexcept {
  if (id == 0 || id > slots_.size())
    return;
  const Slot& s = slots_[id - 1];
  if (level == Level::slot)
    __builtin_prefetch(&s);
  else if (s.inst && level == Level::instance)
    __builtin_prefetch(s.inst.get());
  else if (s.inst)
    s.inst->path.prefetch();
}

Instance& Repository::writable(Slot& s) {
  if (s.inst.use_count() > 1)
    s.inst = make_line_aligned<Instance>(*s.inst);
  return *s.inst;
}

void Repository::set_paths(Instance& inst) const {
  std::size_t relpath_at = 0;
  inst.path = CompactText(path(inst).str(&relpath_at));
  inst.relpath_at = relpath_at;
}

Repository::Key Repository::key_of(const Instance& inst) const {
  Key key = class_key(inst.cls->name());
  std::wstring scratch;
  for (std::size_t i : inst.cls->keys()) {
    const Value& v = inst.values[i];
    append_part(key, v.is_null() || v.is_array() ? std::wstring_view() : scalar_text(v.get(), scratch));
  }
  return key;
}

std::optional<Repository::Key> Repository::key_of(const ObjectPath& path, const ClassDef& cls) const {
  const auto& keys = cls.keys();
  if (path.keys.size() != keys.size() || keys.empty())
    return std::nullopt;
  std::vector<const KeyBinding*> bound(keys.size(), nullptr);
  for (const auto& b : path.keys) {
    std::size_t j = keys.size();
    if (b.name.empty()) {
      if (keys.size() == 1)
        j = 0;
    } else {
      for (std::size_t k = 0; k < keys.size(); ++k)
        if (iequals(cls.properties()[keys[k]].name, b.name))
          j = k;
    }
    if (j == keys.size() || bound[j])
      return std::nullopt;
    bound[j] = &b;
  }
  Key key = class_key(cls.name());
  for (const KeyBinding* b : bound)
    append_part(key, b->quoted ? b->value : canonical_unquoted(b->value));
  return key;
}

bool Repository::local(const ObjectPath& path) const {
  if (!path.server.empty() && path.server != L"." && !iequals(path.server, server_))
    return false;
  return path.ns.empty() || iequals(path.ns, ns_);
}

std::optional<InstanceId> Repository::find(const ObjectPath& path) const {
  if (!local(path) || path.is_class())
    return std::nullopt;
  const ClassDef* cls = schema_->find(path.class_name);
  if (!cls)
    return std::nullopt;
  for (const ClassDef* c : schema_->with_subclasses(*cls)) {
    auto key = key_of(path, *c);
    if (!key)
      continue;
    auto it = targets_.find(*key);
    if (it != targets_.end() && it->second.id != 0)
      return it->second.id;
  }
  return std::nullopt;
}

std::optional<InstanceId> Repository::find(std::wstring_view path_text) const {
  auto p = ObjectPath::parse(path_text);
  return p ? find(*p) : std::nullopt;
}

std::optional<Repository::Key> Repository::target_key(const Value& reference) const {
  const std::wstring* text = reference.as_string();
  if (!text)
    return std::nullopt;
  auto p = ObjectPath::parse(*text);
  if (!p || !local(*p))
    return std::nullopt;
  if (auto id = find(*p))
    return slot(*id)->key();
  // The target does not exist yet: index under the path as written.
  const ClassDef* cls = schema_->find(p->class_name);
  return cls ? key_of(*p, *cls) : std::nullopt;
}

void Repository::index_links(Slot& s) {
  if (!s.inst->cls->is_association())
    return;
  const auto& props = s.inst->cls->properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    if (props[i].type.type != CimType::Reference || props[i].type.array)
      continue;
    auto key = target_key(s.inst->values[i]);
    if (!key)
      continue;
    s.links.emplace_back(i, &target_at(std::move(*key)));
  }
  const bool pair = s.links.size() == 2;
  for (std::size_t k = 0; k < s.links.size(); ++k) {
    Target& t = *s.links[k].second;
    const Link link{s.inst->id, s.links[k].first, s.inst->cls, pair ? s.links[1 - k].second : nullptr,
                    pair ? s.links[1 - k].first : 0};
    t.incoming.insert(std::upper_bound(t.incoming.begin(), t.incoming.end(), link, link_order), link);
  }
}

void Repository::unindex_links(Slot& s) {
  const InstanceId id = s.inst->id;
  for (const auto& [prop, t] : s.links) {
    const std::size_t p = prop;
    auto& v = t->incoming;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const Link& l) { return l.assoc == id && l.property == p; }),
            v.end());
  }
  // Dropped after every link is gone, each once: one association may name a path twice.
  std::vector<Target*> named;
  for (const auto& link : s.links)
    if (std::find(named.begin(), named.end(), link.second) == named.end())
      named.push_back(link.second);
  s.links.clear();
  for (Target* t : named)
    drop_if_unused(*t);
}

Repository::Target& Repository::target_at(Key key) {
  auto [it, fresh] = targets_.try_emplace(std::move(key));
  it->second.key = &it->first;
  return it->second;
}

void Repository::place(Slot& s, std::optional<Key> key) {
  if (s.target != nullptr) {
    Target& old = *s.target;
    old.id = 0;
    old.cls = nullptr;
    s.target = nullptr;
    drop_if_unused(old);
    --live_;
  }
  if (key) {
    s.target = &target_at(std::move(*key));
    s.target->id = s.inst->id;
    s.target->cls = s.inst->cls;
    ++live_;
  }
  ++paths_version_;
}

void Repository::drop_if_unused(Target& t) {
  if (t.id == 0 && t.incoming.empty()) {
    const Key key = *t.key;
    targets_.erase(key);
  }
}

Expected<InstanceId, Status> Repository::create(std::wstring_view class_name, const PropertyList& properties) {
  using R = Expected<InstanceId, Status>;
  const ClassDef* cls = schema_->find(class_name);
  if (!cls || cls->is_abstract())
    return R::failure(Status::invalid_class);
  Instance inst;
  inst.cls = cls;
  inst.values.reserve(cls->properties().size());
  for (const auto& p : cls->properties())
    inst.values.push_back(Value::null(p.type.type, p.type.array));
  for (const auto& [name, value] : properties) {
    auto idx = cls->property_index(name);
    if (!idx)
      return R::failure(Status::invalid_property);
    const auto& t = cls->properties()[*idx].type;
    switch (convert(value, t.type, t.array, inst.values[*idx])) {
      case Conversion::ok:
        break;
      case Conversion::type_mismatch:
        return R::failure(Status::type_mismatch);
      case Conversion::out_of_range:
        return R::failure(Status::out_of_range);
    }
  }
  for (std::size_t k : cls->keys())
    if (inst.values[k].is_null())
      return R::failure(Status::missing_key);
  Key key = key_of(inst);
  if (const auto it = targets_.find(key); it != targets_.end() && it->second.id != 0)
    return R::failure(Status::already_exists);

  ++version_;
  inst.id = slots_.size() + 1;
  set_paths(inst);
  Slot& ref = slots_.emplace_back();
  ref.inst = make_line_aligned<Instance>(std::move(inst));
  place(ref, std::move(key));
  if (by_class_.size() <= cls->id())
    by_class_.resize(schema_->classes().size());
  by_class_[cls->id()].push_back(ref.inst->id);
  index_links(ref);
  index_values(*ref.inst, true);
  return ref.inst->id;
}

Status Repository::set(InstanceId id, std::wstring_view property, const Value& value) {
  Slot* s = slot(id);
  if (!s)
    return Status::not_found;
  const ClassDef& cls = *s->inst->cls;
  auto idx = cls.property_index(property);
  if (!idx)
    return Status::invalid_property;
  const auto& decl = cls.properties()[*idx];
  Value converted;
  switch (convert(value, decl.type.type, decl.type.array, converted)) {
    case Conversion::ok:
      break;
    case Conversion::type_mismatch:
      return Status::type_mismatch;
    case Conversion::out_of_range:
      return Status::out_of_range;
  }
  ++version_;
  if (decl.key) {
    if (converted.is_null())
      return Status::missing_key;
    Instance probe{&cls, {}, id, s->inst->values, {}};
    probe.values[*idx] = converted;
    Key key = key_of(probe);
    if (key != s->key()) {
      if (const auto it = targets_.find(key); it != targets_.end() && it->second.id != 0)
        return Status::already_exists;
      place(*s, std::move(key));
    }
  }
  const bool relink = decl.type.type == CimType::Reference && cls.is_association();
  if (relink)
    unindex_links(*s);
  const auto indexed = value_indexes_.find({cls.id(), *idx});
  if (indexed != value_indexes_.end())
    index_value(indexed->second, *s->inst, *idx, false);
  Instance& inst = writable(*s);
  inst.values[*idx] = std::move(converted);
  if (indexed != value_indexes_.end())
    index_value(indexed->second, inst, *idx, true);
  if (decl.key)
    set_paths(inst);
  if (relink)
    index_links(*s);
  return Status::ok;
}

std::vector<InstanceId> Repository::remove(InstanceId id, Cascade cascade) {
  Slot* s = slot(id);
  if (!s)
    return {};
  ++version_;
  std::vector<InstanceId> removed{id};
  std::vector<Link> dependents;
  if (cascade == Cascade::associations)
    dependents = links_to(*s);

  unindex_links(*s);
  index_values(*s->inst, false);
  place(*s, std::nullopt);
  auto& list = by_class_[s->inst->cls->id()];
  auto pos = std::lower_bound(list.begin(), list.end(), id);
  if (pos != list.end() && *pos == id)
    list.erase(pos);
  slots_[id - 1] = Slot{};

  for (const Link& l : dependents) {
    if (l.assoc == id || !slot(l.assoc))
      continue;
    auto more = remove(l.assoc, Cascade::none);
    removed.insert(removed.end(), more.begin(), more.end());
  }
  return removed;
}

void Repository::index_value(ValueIndex& index, const Instance& inst, std::size_t property, bool add) const {
  const std::wstring* text = inst.values[property].as_string();
  if (text == nullptr)
    return;
  if (add)
    index.emplace(fold(*text), inst.id);
  else
    index.erase({fold(*text), inst.id});
}

void Repository::index_values(const Instance& inst, bool add) const {
  const std::size_t cls = inst.cls->id();
  for (auto it = value_indexes_.lower_bound({cls, 0}); it != value_indexes_.end() && it->first.first == cls; ++it)
    index_value(it->second, inst, it->first.second, add);
}

std::vector<InstanceId> Repository::matching(const ClassDef& cls, std::size_t property, std::wstring_view value,
                                             bool prefix) const {
  auto [it, fresh] = value_indexes_.try_emplace({cls.id(), property});
  ValueIndex& index = it->second;
  if (fresh && cls.id() < by_class_.size())
    for (const InstanceId id : by_class_[cls.id()])
      index_value(index, *slot(id)->inst, property, true);
  const std::wstring wanted = fold(value);
  std::vector<InstanceId> out;
  for (auto e = index.lower_bound({wanted, 0}); e != index.end(); ++e) {
    const bool hit = prefix ? e->first.compare(0, wanted.size(), wanted) == 0 : e->first == wanted;
    if (!hit)
      break;
    out.push_back(e->second);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<InstanceId> Repository::instances_of(const ClassDef& cls, bool deep) const {
  std::vector<InstanceId> out;
  auto add = [&](const ClassDef& c) {
    if (c.id() < by_class_.size())
      out.insert(out.end(), by_class_[c.id()].begin(), by_class_[c.id()].end());
  };
  if (!deep) {
    add(cls);
    return out;
  }
  std::size_t lists = 0;
  for (const ClassDef* c : schema_->with_subclasses(cls)) {
    const std::size_t before = out.size();
    add(*c);
    lists += out.size() != before;
  }
  // Each list is already in creation order; merging is only needed when several contribute.
  if (lists > 1)
    std::sort(out.begin(), out.end());
  return out;
}

ObjectPath Repository::path(const Instance& inst) const {
  std::vector<KeyBinding> keys;
  keys.reserve(inst.cls->keys().size());
  for (std::size_t i : inst.cls->keys()) {
    const auto& decl = inst.cls->properties()[i];
    const Value& v = inst.values[i];
    keys.push_back({decl.name, v.is_null() ? std::wstring() : scalar_text(v.get()), quoted_type(decl.type.type)});
  }
  return make_path(server_, ns_, inst.cls->name(), std::move(keys));
}

const std::vector<std::wstring_view>& Repository::system_property_names() {
  return kSystemProperties;
}

bool Repository::is_system_property(std::wstring_view name) {
  for (auto n : kSystemProperties)
    if (iequals(n, name))
      return true;
  return false;
}

std::optional<Value> Repository::system_property(const Instance& inst, std::wstring_view name) const {
  const ClassDef& cls = *inst.cls;
  if (iequals(name, L"__CLASS"))
    return Value::string(cls.name());
  if (iequals(name, L"__SUPERCLASS"))
    return cls.superclass() ? Value::string(cls.superclass()->name()) : Value::null(CimType::String);
  if (iequals(name, L"__DERIVATION"))
    return Value::string_array(cls.derivation());
  if (iequals(name, L"__DYNASTY"))
    return Value::string(cls.dynasty().name());
  if (iequals(name, L"__PATH"))
    return Value::string(path_text(inst));
  if (iequals(name, L"__RELPATH"))
    return Value::string(relpath_text(inst));
  if (iequals(name, L"__NAMESPACE"))
    return Value::string(ns_);
  if (iequals(name, L"__SERVER"))
    return Value::string(server_);
  if (iequals(name, L"__GENUS"))
    return Value::sint32(2);  // WBEM_GENUS_INSTANCE
  if (iequals(name, L"__PROPERTY_COUNT"))
    return Value::sint32(static_cast<std::int32_t>(cls.properties().size()));
  return std::nullopt;
}

std::optional<Value> Repository::property(const Instance& inst, std::wstring_view name) const {
  if (auto idx = inst.cls->property_index(name))
    return inst.values[*idx];
  return system_property(inst, name);
}

std::vector<InstanceId> Repository::references_of(InstanceId source, const ReferenceFilter& filter) const {
  const Slot* s = slot(source);
  if (!s)
    return {};
  const ClassDef* wanted = nullptr;
  if (!filter.result_class.empty() && !(wanted = schema_->find(filter.result_class)))
    return {};
  std::vector<InstanceId> out;
  for (const Link& l : links_to(*s)) {
    const Instance& a = *slot(l.assoc)->inst;
    if (wanted && !schema_->is_a(*a.cls, *wanted))
      continue;
    if (!filter.role.empty() && !iequals(a.cls->properties()[l.property].name, filter.role))
      continue;
    if (!filter.required_qualifier.empty() && !a.cls->qualifier(filter.required_qualifier))
      continue;
    if (out.empty() || out.back() != l.assoc)  // links are sorted by association
      out.push_back(l.assoc);
  }
  return out;
}

std::vector<InstanceId> Repository::associators_of(InstanceId source, const AssociatorFilter& filter) const {
  const Slot* s = slot(source);
  if (!s)
    return {};
  const ClassDef* assoc_cls = nullptr;
  const ClassDef* result_cls = nullptr;
  if (!filter.assoc_class.empty() && !(assoc_cls = schema_->find(filter.assoc_class)))
    return {};
  if (!filter.result_class.empty() && !(result_cls = schema_->find(filter.result_class)))
    return {};

  std::vector<InstanceId> out;
  // Each result once: a mark per instance, from a counter that moves on with every call, costs
  // neither a set nor a clearing pass.
  if (marks_.size() < slots_.size() + 1)
    marks_.resize(slots_.size() + 1, 0);
  if (++mark_ == 0) {
    std::fill(marks_.begin(), marks_.end(), 0);
    mark_ = 1;
  }
  auto first_time = [&](InstanceId id) {
    if (marks_[id] == mark_)
      return false;
    marks_[id] = mark_;
    return true;
  };
  // The far end through one reference of the association, if it passes the result filters.
  auto consider = [&](const ClassDef& acls, std::size_t prop, const Target& named) {
    if (!filter.result_role.empty() && !iequals(acls.properties()[prop].name, filter.result_role))
      return;
    if (named.id == 0 || named.id == source)
      return;
    if (result_cls && !schema_->is_a(*named.cls, *result_cls))
      return;
    if (!filter.required_qualifier.empty() && !named.cls->qualifier(filter.required_qualifier))
      return;
    if (first_time(named.id))
      out.push_back(named.id);
  };
  for (const Link& l : links_to(*s)) {
    const ClassDef& acls = *l.assoc_cls;
    if (assoc_cls && !schema_->is_a(acls, *assoc_cls))
      continue;
    if (!filter.role.empty() && !iequals(acls.properties()[l.property].name, filter.role))
      continue;
    if (!filter.required_assoc_qualifier.empty() && !acls.qualifier(filter.required_assoc_qualifier))
      continue;
    if (l.other != nullptr) {
      consider(acls, l.other_property, *l.other);
      continue;
    }
    for (const auto& [prop, named] : slot(l.assoc)->links)
      if (prop != l.property)
        consider(acls, prop, *named);
  }
  return out;
}

}  // namespace simhost::cim
