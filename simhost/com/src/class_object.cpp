#include "class_object.hpp"

#include <map>
#include <mutex>
#include <utility>

#include "simhost/cim/text.hpp"
#include "simhost/provider/call_observer.hpp"
#include "variant.hpp"

namespace simhost::com {

using cim::ClassDef;
using cim::Value;

// {6B1C53E8-2F0D-4C8E-9A4E-5D1A6E0F3B21}: not a Windows interface; only this facade answers it.
const IID IID_SimulatedObject = {0x6B1C53E8, 0x2F0D, 0x4C8E, {0x9A, 0x4E, 0x5D, 0x1A, 0x6E, 0x0F, 0x3B, 0x21}};

namespace {

// The schema's name for the class GetObject hands out for a null path; __CLASS shows no name.
constexpr wchar_t kUnnamed[] = L"__UnnamedClass";

constexpr const wchar_t* kSystemNames[] = {
    L"__GENUS",          L"__CLASS",      L"__SUPERCLASS", L"__DYNASTY",   L"__RELPATH",
    L"__PROPERTY_COUNT", L"__DERIVATION", L"__SERVER",     L"__NAMESPACE", L"__PATH"};

std::vector<Value> null_values(const ClassDef& cls) {
  std::vector<Value> values;
  values.reserve(cls.properties().size());
  for (const auto& p : cls.properties())
    values.push_back(Value::null(p.type.type, p.type.array));
  return values;
}

// The class that declared a property: the topmost ancestor that still has it.
const ClassDef* origin_of(const ClassDef& cls, std::size_t index) {
  const ClassDef* origin = &cls;
  for (const ClassDef* c = cls.superclass(); c != nullptr; c = c->superclass()) {
    if (index >= c->properties().size())
      break;
    origin = c;
  }
  return origin;
}

BSTR alloc(const std::wstring& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// Parameter classes, one schema per method and direction, made once and shared.
std::shared_ptr<const cim::Schema> parameter_schema(const ClassDef& cls, const cim::MethodDecl& method, bool out) {
  static std::mutex mutex;
  static std::map<std::wstring, std::shared_ptr<const cim::Schema>> cache;
  const std::wstring key = cim::fold(cls.name()) + L"." + cim::fold(method.name) + (out ? L".out" : L".in");
  std::lock_guard<std::mutex> lock(mutex);
  auto found = cache.find(key);
  if (found != cache.end())
    return found->second;

  std::vector<cim::PropertyDecl> properties;
  if (out)
    properties.push_back({L"ReturnValue", {cim::CimType::UInt32, false, {}}, false, {}});
  for (const auto& p : out ? method.out : method.in)
    properties.push_back({p.name, p.type, false, p.qualifiers});
  auto schema = std::make_shared<cim::Schema>();
  schema->add(cim::ClassDecl(L"__PARAMETERS", L"", std::move(properties)));
  cache.emplace(key, schema);
  return schema;
}

}  // namespace

ClassObject::ClassObject(ObjectState&& state) : ComObject(IID_IWbemClassObject), state_(std::move(state)) {}

ClassObject::ClassObject(const std::shared_ptr<provider::Host>& host, cim::Snapshot&& found)
    : ComObject(IID_IWbemClassObject), state_{host, nullptr, found->cls, false, {}, std::move(found), nullptr, false} {}

bool ClassObject::query_extra(REFIID riid, void** ppv) {
  if (!IsEqualIID(riid, IID_SimulatedObject))
    return false;
  *ppv = this;
  return true;
}

ClassObject* as_simulated(IWbemClassObject* object) noexcept {
  if (object == nullptr)
    return nullptr;
  void* self = nullptr;
  if (FAILED(object->QueryInterface(IID_SimulatedObject, &self)) || self == nullptr)
    return nullptr;
  auto* simulated = static_cast<ClassObject*>(self);
  simulated->Release();
  return simulated;
}

void ClassObject::record(const wchar_t* call, std::wstring subject, std::wstring detail, HRESULT result) const {
  if (state_.host && state_.host->observer().recording())
    state_.host->observer().record({call, std::move(subject), std::move(detail), result});
}

cim::PropertyList ClassObject::set_properties() const {
  cim::PropertyList list;
  const auto& props = state_.cls->properties();
  for (std::size_t i = 0; i < props.size(); ++i)
    if (!state_.values()[i].is_null())
      list.emplace_back(props[i].name, state_.values()[i]);
  return list;
}

std::optional<std::size_t> ClassObject::visible_index(const wchar_t* name) const {
  const auto index = state_.cls->property_index(name);
  if (index && !visible(*index))
    return std::nullopt;
  return index;
}

std::vector<std::pair<std::wstring, Value>> ClassObject::system_properties() const {
  const ClassDef& cls = *state_.cls;
  std::vector<std::wstring> derivation = cls.derivation();
  const std::wstring superclass = derivation.empty() ? std::wstring() : derivation.front();
  const bool located = state_.located();
  const bool named = !(state_.defining && cls.name() == kUnnamed);
  const std::wstring server = located ? state_.host->computer_name() : std::wstring();
  auto text_or_null = [](bool present, const std::wstring& text) {
    return present ? Value::string(text) : Value::null(cim::CimType::String);
  };
  std::int32_t count = 0;
  for (std::size_t i = 0; i < cls.properties().size(); ++i)
    count += visible(i) ? 1 : 0;
  return {
      {L"__GENUS", Value::sint32(state_.is_class ? WBEM_GENUS_CLASS : WBEM_GENUS_INSTANCE)},
      {L"__CLASS", text_or_null(named, cls.name())},
      {L"__SUPERCLASS", text_or_null(!superclass.empty(), superclass)},
      {L"__DYNASTY", text_or_null(named, cls.dynasty().name())},
      {L"__RELPATH", text_or_null(located || (state_.is_class && named), located ? state_.relpath() : cls.name())},
      {L"__PROPERTY_COUNT", Value::sint32(count)},
      {L"__DERIVATION", Value::string_array(std::move(derivation))},
      {L"__SERVER", text_or_null(located, server)},
      {L"__NAMESPACE", text_or_null(located, L"root\\virtualization")},
      {L"__PATH", text_or_null(located, state_.path())},
  };
}

std::vector<std::wstring> ClassObject::names(long flags) const {
  std::vector<std::wstring> result;
  const long origin = flags & WBEM_MASK_CONDITION_ORIGIN;
  if (origin != WBEM_FLAG_NONSYSTEM_ONLY && origin != WBEM_FLAG_LOCAL_ONLY && origin != WBEM_FLAG_PROPAGATED_ONLY)
    for (const wchar_t* n : kSystemNames)
      result.emplace_back(n);
  if (origin == WBEM_FLAG_SYSTEM_ONLY)
    return result;
  const auto& props = state_.cls->properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    const bool local = origin_of(*state_.cls, i) == state_.cls;
    if (origin == WBEM_FLAG_LOCAL_ONLY && !local)
      continue;
    if (origin == WBEM_FLAG_PROPAGATED_ONLY && local)
      continue;
    if (!visible(i) || ((flags & WBEM_FLAG_KEYS_ONLY) != 0 && !props[i].key))
      continue;
    if ((flags & WBEM_FLAG_REFS_ONLY) != 0 && props[i].type.type != cim::CimType::Reference)
      continue;
    result.push_back(props[i].name);
  }
  return result;
}

HRESULT ClassObject::Get(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) {
  if (wszName == nullptr || lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  // Most hosts neither fail calls nor record them; reading a property is then all there is to do.
  if (!state_.host || !state_.host->observer().watching())
    return read(wszName, pVal, pType, plFlavor);
  std::optional<HRESULT> forced = forced_by(*state_.host, provider::Call::get, wszName);
  const HRESULT hr = forced ? *forced : read(wszName, pVal, pType, plFlavor);
  if (state_.host->observer().recording())
    record(L"Get", wszName, {}, hr);
  return hr;
}

HRESULT ClassObject::read(LPCWSTR wszName, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) {
  const ClassDef& cls = *state_.cls;
  if (wszName[0] == L'_' && wszName[1] == L'_') {
    // Callers read a found object's path far more than anything else: hand it over directly.
    const bool path = cim::iequals(wszName, L"__PATH");
    if ((path || cim::iequals(wszName, L"__RELPATH")) && state_.located()) {
      const cim::CompactText& text = state_.found->path;
      const std::size_t from = path ? 0 : state_.found->relpath_at;
      if (pVal != nullptr) {
        VariantInit(pVal);
        const BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(text.size() - from));
        if (value == nullptr)
          return wbem(WBEM_E_OUT_OF_MEMORY);
        text.copy_to(value, from);
        V_VT(pVal) = VT_BSTR;
        V_BSTR(pVal) = value;
      }
      if (pType != nullptr)
        *pType = CIM_STRING;
      if (plFlavor != nullptr)
        *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
      return WBEM_S_NO_ERROR;
    }
    for (auto& [name, value] : system_properties()) {
      if (!cim::iequals(name, wszName))
        continue;
      if (pVal != nullptr && FAILED(to_variant(value, pVal)))
        return wbem(WBEM_E_OUT_OF_MEMORY);
      if (pType != nullptr)
        *pType = cim_type_code({value.type(), value.is_array(), {}});
      if (plFlavor != nullptr)
        *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
      return WBEM_S_NO_ERROR;
    }
    return wbem(WBEM_E_NOT_FOUND);
  }
  const auto index = visible_index(wszName);
  if (!index)
    return wbem(WBEM_E_NOT_FOUND);
  if (pVal != nullptr && FAILED(to_variant(state_.values()[*index], pVal)))
    return wbem(WBEM_E_OUT_OF_MEMORY);
  if (pType != nullptr)
    *pType = cim_type_code(cls.properties()[*index].type);
  if (plFlavor != nullptr)
    *plFlavor = origin_of(cls, *index) == &cls ? WBEM_FLAVOR_ORIGIN_LOCAL : WBEM_FLAVOR_ORIGIN_PROPAGATED;
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::Put(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE Type) {
  if (wszName == nullptr || lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  const std::wstring detail = pVal == nullptr ? L"NULL" : [&] {
    auto v = from_variant(*pVal);
    return v ? describe(*v) : std::wstring(L"?");
  }();
  auto finish = [&](HRESULT hr) {
    record(L"Put", wszName, detail, hr);
    return hr;
  };
  if (auto forced = state_.host ? forced_by(*state_.host, provider::Call::put, wszName) : std::nullopt)
    return finish(*forced);
  if (state_.defining && cim::iequals(wszName, L"__CLASS"))
    return finish(name_class(pVal));
  if (wszName[0] == L'_')
    return finish(wbem(WBEM_E_READ_ONLY));
  const auto index = visible_index(wszName);
  if (!index) {
    // An instance has a fixed set of properties; a class definition would grow one, which
    // nothing here supports (classes come from the schema).
    return finish(state_.is_class ? wbem(WBEM_E_NOT_SUPPORTED) : wbem(WBEM_E_NOT_FOUND));
  }
  const cim::TypeRef& declared = state_.cls->properties()[*index].type;
  // The property's type is fixed; a type given with the value must be that type.
  if (Type != CIM_EMPTY && Type != cim_type_code(declared))
    return finish(wbem(WBEM_E_TYPE_MISMATCH));
  Value converted;
  if (FAILED(put_value(pVal, declared, converted)))
    return finish(wbem(WBEM_E_TYPE_MISMATCH));  // the property keeps what it had
  state_.writable_values()[*index] = std::move(converted);
  return finish(WBEM_S_NO_ERROR);
}

HRESULT ClassObject::name_class(const VARIANT* name) {
  if (name == nullptr || name->vt != VT_BSTR || name->bstrVal == nullptr || SysStringLen(name->bstrVal) == 0)
    return wbem(WBEM_E_TYPE_MISMATCH);
  auto schema = std::make_shared<cim::Schema>();
  schema->add(cim::ClassDecl(std::wstring(name->bstrVal, SysStringLen(name->bstrVal)), L""));
  state_.cls = schema->classes().front().get();
  state_.schema = std::move(schema);
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::Delete(LPCWSTR wszName) {
  if (wszName == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  const auto index = state_.cls->property_index(wszName);
  if (!index)
    return wbem(WBEM_E_NOT_FOUND);
  const cim::TypeRef& declared = state_.cls->properties()[*index].type;
  state_.writable_values()[*index] = Value::null(declared.type, declared.array);
  return WBEM_S_RESET_TO_DEFAULT;
}

HRESULT ClassObject::GetNames(LPCWSTR wszQualifierName, long lFlags, VARIANT* pQualifierVal, SAFEARRAY** pNames) {
  if (pNames == nullptr || pQualifierVal != nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  std::vector<std::wstring> list = names(lFlags);
  if (wszQualifierName != nullptr) {
    // Only the key qualifier is known per property here.
    if (!cim::iequals(wszQualifierName, L"key"))
      list.clear();
    std::erase_if(list, [&](const std::wstring& n) {
      const cim::PropertyDecl* p = state_.cls->property(n);
      return p == nullptr || !p->key;
    });
  }
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(list.size()));
  if (array == nullptr)
    return wbem(WBEM_E_OUT_OF_MEMORY);
  for (std::size_t i = 0; i < list.size(); ++i) {
    LONG at = static_cast<LONG>(i);
    BSTR name = alloc(list[i]);
    const HRESULT hr = SafeArrayPutElement(array, &at, name);
    SysFreeString(name);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return wbem(WBEM_E_OUT_OF_MEMORY);
    }
  }
  *pNames = array;
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::BeginEnumeration(long lEnumFlags) {
  enumeration_ = names(lEnumFlags);
  enumeration_at_ = 0;
  enumerating_ = true;
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::Next(long lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) {
  if (lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  if (!enumerating_)
    return wbem(WBEM_E_UNEXPECTED);
  if (enumeration_at_ >= enumeration_.size())
    return WBEM_S_NO_MORE_DATA;
  const std::wstring& name = enumeration_[enumeration_at_++];
  const HRESULT hr = Get(name.c_str(), 0, pVal, pType, plFlavor);
  if (SUCCEEDED(hr) && strName != nullptr)
    *strName = alloc(name);
  return hr;
}

HRESULT ClassObject::EndEnumeration() {
  enumerating_ = false;
  enumeration_.clear();
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::GetQualifierSet(IWbemQualifierSet**) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}

HRESULT ClassObject::Clone(IWbemClassObject** ppCopy) {
  if (ppCopy == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  *ppCopy = new ClassObject(ObjectState(state_));
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::GetObjectText(long lFlags, BSTR* pstrObjectText) {
  if (pstrObjectText == nullptr || lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  std::wstring text = state_.is_class ? L"class " + state_.cls->name() : L"instance of " + state_.cls->name();
  text += L"\n{\n";
  const auto& props = state_.cls->properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    if (state_.values()[i].is_null())
      continue;
    text += L"\t" + props[i].name + L" = " + describe(state_.values()[i]) + L";\n";
  }
  text += L"};\n";
  *pstrObjectText = alloc(text);
  return *pstrObjectText != nullptr ? wbem(WBEM_S_NO_ERROR) : wbem(WBEM_E_OUT_OF_MEMORY);
}

HRESULT ClassObject::SpawnDerivedClass(long, IWbemClassObject**) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}

HRESULT ClassObject::SpawnInstance(long lFlags, IWbemClassObject** ppNewInstance) {
  if (ppNewInstance == nullptr || lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  *ppNewInstance = nullptr;
  auto finish = [&](HRESULT hr) {
    record(L"SpawnInstance", state_.cls->name(), {}, hr);
    return hr;
  };
  if (auto forced =
          state_.host ? forced_by(*state_.host, provider::Call::spawn_instance, state_.cls->name()) : std::nullopt)
    return finish(*forced);
  if (!state_.is_class)
    return finish(wbem(WBEM_E_INVALID_OPERATION));
  ObjectState fresh{state_.host, state_.schema, state_.cls, false, null_values(*state_.cls), {}, {}, false};
  *ppNewInstance = new ClassObject(std::move(fresh));
  return finish(WBEM_S_NO_ERROR);
}

HRESULT ClassObject::CompareTo(long, IWbemClassObject* pCompareTo) {
  const ClassObject* other = as_simulated(pCompareTo);
  if (other == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  const bool same = other->state_.cls == state_.cls && other->state_.is_class == state_.is_class &&
                    other->state_.values() == state_.values();
  return same ? wbem(WBEM_S_SAME) : wbem(WBEM_S_DIFFERENT);
}

HRESULT ClassObject::GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) {
  if (wszName == nullptr || pstrClassName == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  const auto index = visible_index(wszName);
  if (!index)
    return wbem(WBEM_E_NOT_FOUND);
  *pstrClassName = alloc(origin_of(*state_.cls, *index)->name());
  return WBEM_S_NO_ERROR;
}

HRESULT ClassObject::InheritsFrom(LPCWSTR strAncestor) {
  if (strAncestor == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  for (const ClassDef* c = state_.cls->superclass(); c != nullptr; c = c->superclass())
    if (cim::iequals(c->name(), strAncestor))
      return WBEM_S_NO_ERROR;
  return WBEM_S_FALSE;
}

HRESULT ClassObject::GetMethod(LPCWSTR wszName, long lFlags, IWbemClassObject** ppInSignature,
                               IWbemClassObject** ppOutSignature) {
  if (wszName == nullptr || lFlags != 0)
    return wbem(WBEM_E_INVALID_PARAMETER);
  if (ppInSignature != nullptr)
    *ppInSignature = nullptr;
  if (ppOutSignature != nullptr)
    *ppOutSignature = nullptr;
  auto finish = [&](HRESULT hr) {
    record(L"GetMethod", wszName, {}, hr);
    return hr;
  };
  if (auto forced = state_.host ? forced_by(*state_.host, provider::Call::get_method, wszName) : std::nullopt)
    return finish(*forced);
  const cim::MethodDecl* method = state_.cls->method(wszName);
  if (method == nullptr)
    return finish(wbem(WBEM_E_NOT_FOUND));
  if (ppInSignature != nullptr)
    *ppInSignature = make_parameter_class(state_.host, *state_.cls, *method, false);
  if (ppOutSignature != nullptr)
    *ppOutSignature = make_parameter_class(state_.host, *state_.cls, *method, true);
  return finish(WBEM_S_NO_ERROR);
}

HRESULT ClassObject::PutMethod(LPCWSTR, long, IWbemClassObject*, IWbemClassObject*) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::DeleteMethod(LPCWSTR) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::BeginMethodEnumeration(long) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::NextMethod(long, BSTR*, IWbemClassObject**, IWbemClassObject**) {
  return wbem(WBEM_E_NOT_SUPPORTED);
}
HRESULT ClassObject::EndMethodEnumeration() {
  return wbem(WBEM_E_NOT_SUPPORTED);
}

HRESULT ClassObject::GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) {
  if (wszMethodName == nullptr || pstrClassName == nullptr)
    return wbem(WBEM_E_INVALID_PARAMETER);
  const ClassDef* origin = nullptr;
  for (const ClassDef* c = state_.cls; c != nullptr; c = c->superclass())
    for (const auto& m : c->methods())
      if (cim::iequals(m.name, wszMethodName))
        origin = c;
  if (origin == nullptr)
    return wbem(WBEM_E_NOT_FOUND);
  *pstrClassName = alloc(origin->name());
  return WBEM_S_NO_ERROR;
}

IWbemClassObject* make_instance_object(const std::shared_ptr<provider::Host>& host, cim::InstanceId id,
                                       const Projection& projection) {
  cim::Snapshot found = host->repository().snapshot(id);
  if (!found)
    return nullptr;
  const cim::Instance* inst = found.get();
  // A walk makes two of these for every query.
  if (!projection.shown && !projection.keys_only)
    return new ClassObject(host, std::move(found));
  ObjectState state{host, nullptr, inst->cls, false, {}, std::move(found), projection.shown, false};
  // Hidden values are null in the object's own copy; the repository's stay as they are.
  auto& values = state.writable_values();
  const auto& props = inst->cls->properties();
  for (std::size_t i = 0; i < props.size(); ++i) {
    const bool kept = projection.keys_only ? props[i].key : i < projection.shown->size() && (*projection.shown)[i];
    if (!kept)
      values[i] = Value::null(props[i].type.type, props[i].type.array);
  }
  return new ClassObject(std::move(state));
}

IWbemClassObject* make_empty_class(const std::shared_ptr<provider::Host>& host) {
  static const std::shared_ptr<const cim::Schema> empty = [] {
    auto schema = std::make_shared<cim::Schema>();
    schema->add(cim::ClassDecl(kUnnamed, L""));
    return schema;
  }();
  ObjectState state{host, empty, empty->classes().front().get(), true, {}, {}, {}, true};
  return new ClassObject(std::move(state));
}

IWbemClassObject* make_class_object(const std::shared_ptr<provider::Host>& host, const ClassDef& cls) {
  return new ClassObject(ObjectState{host, nullptr, &cls, true, null_values(cls), {}, {}, false});
}

IWbemClassObject* make_parameter_class(const std::shared_ptr<provider::Host>& host, const ClassDef& cls,
                                       const cim::MethodDecl& method, bool out) {
  if (!out && method.in.empty())
    return nullptr;
  auto schema = parameter_schema(cls, method, out);
  const ClassDef* params = schema->find(L"__PARAMETERS");
  return new ClassObject(ObjectState{host, schema, params, true, null_values(*params), {}, {}, false});
}

IWbemClassObject* make_out_parameters(const std::shared_ptr<provider::Host>& host, const ClassDef& cls,
                                      const cim::MethodDecl& method, const cim::PropertyList& values) {
  auto schema = parameter_schema(cls, method, true);
  const ClassDef* params = schema->find(L"__PARAMETERS");
  ObjectState state{host, schema, params, false, null_values(*params), {}, {}, false};
  for (const auto& [name, value] : values) {
    const auto index = params->property_index(name);
    if (!index)
      continue;
    const cim::TypeRef& declared = params->properties()[*index].type;
    Value converted;
    if (cim::convert(value, declared.type, declared.array, converted) == cim::Conversion::ok)
      state.own[*index] = std::move(converted);
  }
  return new ClassObject(std::move(state));
}

}  // namespace simhost::com
