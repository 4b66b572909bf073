// The WMI entry points: locator, services, enumerators, contexts, the object text source, their
// class objects, and the installation that registers them.
#include <algorithm>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "class_object.hpp"
#include "simhost/cimxml/cimxml.hpp"
#include "simhost/cim/text.hpp"
#include "simhost/provider/call_observer.hpp"
#include "simhost/com/installation.hpp"
#include "variant.hpp"

namespace simhost::com {

namespace {

using HostPtr = std::shared_ptr<provider::Host>;

std::wstring text_of(const wchar_t* s) {
  return s != nullptr ? std::wstring(s) : std::wstring();
}

HRESULT recorded(const HostPtr& host, const wchar_t* call, std::wstring_view subject, std::wstring_view detail,
                 HRESULT hr) {
  auto& observer = host->observer();
  if (observer.recording())
    observer.record({call, std::wstring(subject), std::wstring(detail), hr});
  return hr;
}

using Ids = std::vector<cim::InstanceId>;

class Enumerator final : public ComObject<IEnumWbemClassObject> {
 public:
  // `run`: the query's text and result. `rearranged`: the result's objects in another order, or
  // null for the result's own. `failure`: the error of a semisynchronous query, which every Next
  // reports with no objects.
  Enumerator(HostPtr host, provider::QueryRun run, std::shared_ptr<const Ids> rearranged, bool forward_only,
             Projection projection = {}, HRESULT failure = WBEM_S_NO_ERROR)
      : ComObject(IID_IEnumWbemClassObject),
        host_(std::move(host)),
        run_(std::move(run)),
        rearranged_(std::move(rearranged)),
        ids_(rearranged_ ? rearranged_.get() : &run_->result.instances),
        projection_(std::move(projection)),
        failure_(failure),
        forward_only_(forward_only) {}

  HRESULT STDMETHODCALLTYPE Reset() override {
    if (forward_only_)
      return wbem(WBEM_E_INVALID_OPERATION);
    at_ = 0;
    return WBEM_S_NO_ERROR;
  }

  HRESULT STDMETHODCALLTYPE Next(long, ULONG uCount, IWbemClassObject** apObjects, ULONG* puReturned) override {
    if (apObjects == nullptr || puReturned == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    *puReturned = 0;
    // The text is rendered only for fault rules and the transcript, which few hosts have.
    const bool watched = host_->observer().watching();
    const std::wstring query = watched ? run_->text.str() : std::wstring();
    if (auto forced = watched ? forced_by(*host_, provider::Call::next, query) : std::nullopt)
      return recorded(host_, L"Next", query, {}, *forced);
    if (FAILED(failure_))
      return recorded(host_, L"Next", query, L"0", failure_);
    ULONG handed = 0;
    while (handed < uCount && at_ < ids_->size()) {
      // An object deleted since the query ran is skipped, as a live enumeration would.
      if (IWbemClassObject* object = make_instance_object(host_, (*ids_)[at_++], projection_))
        apObjects[handed++] = object;
    }
    // Callers walk results one object at a time and read each path: what the next two will need
    // is loaded while the caller works on this one.
    using Level = cim::Repository::Level;
    if (at_ < ids_->size())
      host_->repository().prefetch((*ids_)[at_], Level::path);
    if (at_ + 1 < ids_->size())
      host_->repository().prefetch((*ids_)[at_ + 1], Level::instance);
    *puReturned = handed;
    const HRESULT hr = handed == uCount ? wbem(WBEM_S_NO_ERROR) : wbem(WBEM_S_FALSE);
    return recorded(host_, L"Next", query, host_->observer().recording() ? std::to_wstring(handed) : std::wstring(),
                    hr);
  }

  HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return wbem(WBEM_E_NOT_SUPPORTED); }

  HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** ppEnum) override {
    if (ppEnum == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    if (forward_only_)
      return wbem(WBEM_E_INVALID_OPERATION);
    auto* copy = new Enumerator(host_, run_, rearranged_, forward_only_, projection_, failure_);
    copy->at_ = at_;
    *ppEnum = copy;
    return WBEM_S_NO_ERROR;
  }

  HRESULT STDMETHODCALLTYPE Skip(long, ULONG nCount) override {
    const std::size_t left = ids_->size() - at_;
    const std::size_t step = nCount < left ? nCount : left;
    at_ += step;
    return step == nCount ? wbem(WBEM_S_NO_ERROR) : wbem(WBEM_S_FALSE);
  }

 private:
  HostPtr host_;
  provider::QueryRun run_;
  std::shared_ptr<const Ids> rearranged_;
  const Ids* ids_;  // rearranged_'s or run_'s
  Projection projection_;
  HRESULT failure_;
  std::size_t at_ = 0;
  bool forward_only_;
};

// The result's objects in the order the host asks for: null for creation order, else a
// rearranged copy. Shuffles are seeded by the host's seed and the query text, so the same query
// on the same host always comes back the same way.
std::shared_ptr<const Ids> arranged(const Ids& result, const provider::ResultOrder& order, std::wstring_view query) {
  if (order.kind == provider::ResultOrder::Kind::creation)
    return nullptr;
  auto ids = std::make_shared<Ids>(result);
  if (order.kind == provider::ResultOrder::Kind::reversed) {
    std::reverse(ids->begin(), ids->end());
    return ids;
  }
  std::uint64_t state = order.seed ^ 0x9E3779B97F4A7C15ull;
  for (wchar_t c : query)
    state = (state ^ static_cast<std::uint64_t>(c)) * 0x100000001B3ull;
  auto next = [&state] {  // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  for (std::size_t i = ids->size(); i > 1; --i)
    std::swap((*ids)[i - 1], (*ids)[next() % i]);
  return ids;
}

std::wstring describe_parameters(const cim::PropertyList& in) {
  std::wstring text;
  for (const auto& [name, value] : in)
    text += name + L"=" + describe(value) + L"\n";
  return text;
}

class Services final : public ComObject<IWbemServices> {
 public:
  explicit Services(HostPtr host) : ComObject(IID_IWbemServices), host_(std::move(host)) {}

  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, long lFlags, IWbemContext*,
                                      IEnumWbemClassObject** ppEnum) override {
    if (ppEnum == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    *ppEnum = nullptr;
    const std::wstring_view query = strQuery != nullptr ? std::wstring_view(strQuery) : std::wstring_view();
    auto finish = [&](HRESULT hr) { return recorded(host_, L"ExecQuery", query, {}, hr); };
    if (strQueryLanguage == nullptr || query.empty())
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    if (!cim::iequals(strQueryLanguage, L"WQL"))
      return finish(wbem(WBEM_E_INVALID_QUERY_TYPE));
    if (auto forced = forced_by(*host_, provider::Call::exec_query, query))
      return finish(*forced);
    const bool forward_only = (lFlags & WBEM_FLAG_FORWARD_ONLY) != 0;
    auto run = host_->run_query(query);
    if (!run) {
      const auto failure = static_cast<HRESULT>(run.error().code);
      // A semisynchronous call hands its error to the first Next; a synchronous one returns it.
      if ((lFlags & WBEM_FLAG_RETURN_IMMEDIATELY) == 0)
        return finish(failure);
      const HRESULT hr = finish(WBEM_S_NO_ERROR);
      auto none = std::make_shared<provider::KeptRun>();
      none->text = cim::CompactText(query);
      *ppEnum = new Enumerator(host_, std::move(none), nullptr, forward_only, {}, failure);
      return hr;
    }
    provider::QueryRun kept = std::move(*run);
    Projection projection;
    projection.keys_only = kept->result.keys_only;
    if (!kept->result.shown.empty())
      projection.shown = std::shared_ptr<const std::vector<bool>>(kept, &kept->result.shown);
    auto order = arranged(kept->result.instances, host_->result_order(), query);
    const HRESULT hr = finish(WBEM_S_NO_ERROR);
    *ppEnum = new Enumerator(host_, std::move(kept), std::move(order), forward_only, std::move(projection));
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, long, IWbemContext*, IWbemClassObject** ppObject,
                                      IWbemCallResult** ppCallResult) override {
    if (ppCallResult != nullptr)
      *ppCallResult = nullptr;
    if (ppObject != nullptr)
      *ppObject = nullptr;
    const std::wstring path = text_of(strObjectPath);
    auto finish = [&](HRESULT hr) { return recorded(host_, L"GetObject", path, {}, hr); };
    if (ppObject == nullptr)
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    if (auto forced = forced_by(*host_, provider::Call::get_object, path))
      return finish(*forced);
    if (path.empty()) {  // a class to be defined
      *ppObject = make_empty_class(host_);
      return finish(WBEM_S_NO_ERROR);
    }
    const auto parsed = cim::ObjectPath::parse(path);
    if (!parsed)
      return finish(wbem(WBEM_E_INVALID_OBJECT_PATH));
    const cim::Repository& repo = host_->repository();
    if (parsed->is_class()) {
      const cim::ClassDef* cls = repo.schema().find(parsed->class_name);
      if (cls == nullptr)
        return finish(wbem(WBEM_E_NOT_FOUND));
      *ppObject = make_class_object(host_, *cls);
      return finish(WBEM_S_NO_ERROR);
    }
    const auto id = repo.find(*parsed);
    // Looking at a job or a VM moves what it is doing on, as a query of it would.
    if (!id || !host_->observe(*id))
      return finish(wbem(WBEM_E_NOT_FOUND));
    *ppObject = make_instance_object(host_, *id);
    return finish(WBEM_S_NO_ERROR);
  }

  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, long, IWbemContext*,
                                       IWbemClassObject* pInParams, IWbemClassObject** ppOutParams,
                                       IWbemCallResult** ppCallResult) override {
    if (ppCallResult != nullptr)
      *ppCallResult = nullptr;
    if (ppOutParams != nullptr)
      *ppOutParams = nullptr;
    const std::wstring path = text_of(strObjectPath);
    const std::wstring method = text_of(strMethodName);
    cim::PropertyList in;
    if (pInParams != nullptr) {
      const ClassObject* params = as_simulated(pInParams);
      if (params == nullptr)
        return recorded(host_, L"ExecMethod", method, path, wbem(WBEM_E_INVALID_PARAMETER));
      in = params->set_properties();
    }
    const std::wstring detail = path + L"\n" + describe_parameters(in);
    auto finish = [&](HRESULT hr) { return recorded(host_, L"ExecMethod", method, detail, hr); };
    if (path.empty() || method.empty())
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    if (auto forced = forced_by(*host_, provider::Call::exec_method, method))
      return finish(*forced);

    provider::MethodResult result = host_->invoke(path, method, in);
    if (result.hresult < 0)
      return finish(result.hresult);
    if (ppOutParams != nullptr) {
      const cim::ClassDef* cls = class_of(path);
      const cim::MethodDecl* decl = cls != nullptr ? cls->method(method) : nullptr;
      if (decl != nullptr)
        *ppOutParams = make_out_parameters(host_, *cls, *decl, result.out);
    }
    return finish(result.hresult);
  }

  // The rest of IWbemServices is not offered by the simulated provider.
  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, long, IWbemContext*, IWbemServices**,
                                          IWbemCallResult**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(long, IWbemObjectSink**) override { return wbem(WBEM_E_NOT_SUPPORTED); }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, long, IWbemContext*, IWbemCallResult**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, long, IWbemContext*, IWbemCallResult**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, long, IWbemContext*, IEnumWbemClassObject**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, long, IWbemContext*, IWbemCallResult**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, long, IWbemContext*, IWbemCallResult**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, long, IWbemContext*, IEnumWbemClassObject**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, long, IWbemContext*, IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, long, IWbemContext*,
                                                  IEnumWbemClassObject**) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, long, IWbemContext*,
                                                       IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, long, IWbemContext*, IWbemClassObject*,
                                            IWbemObjectSink*) override {
    return wbem(WBEM_E_NOT_SUPPORTED);
  }

 private:
  // The class whose method a path names: an instance's class, or the class itself.
  const cim::ClassDef* class_of(const std::wstring& path) const {
    const auto parsed = cim::ObjectPath::parse(path);
    if (!parsed)
      return nullptr;
    const cim::Repository& repo = host_->repository();
    if (!parsed->is_class()) {
      if (const auto id = repo.find(*parsed))
        return repo.get(*id)->cls;
    }
    return repo.schema().find(parsed->class_name);
  }

  HostPtr host_;
};

class Locator final : public ComObject<IWbemLocator> {
 public:
  explicit Locator(HostPtr host) : ComObject(IID_IWbemLocator), host_(std::move(host)) {}

  HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR, const BSTR, const BSTR, long,
                                          const BSTR, IWbemContext*, IWbemServices** ppNamespace) override {
    const std::wstring resource = text_of(strNetworkResource);
    auto finish = [&](HRESULT hr) { return recorded(host_, L"ConnectServer", resource, {}, hr); };
    if (ppNamespace == nullptr || resource.empty())
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    *ppNamespace = nullptr;
    if (auto forced = forced_by(*host_, provider::Call::connect_server, resource))
      return finish(*forced);
    if (!cim::iequals(namespace_of(resource), L"root\\virtualization"))
      return finish(wbem(WBEM_E_INVALID_NAMESPACE));
    *ppNamespace = new Services(host_);
    return finish(WBEM_S_NO_ERROR);
  }

 private:
  // "\\server\root\virtualization" and "root\virtualization" name the same namespace here.
  static std::wstring namespace_of(const std::wstring& resource) {
    std::wstring text = resource;
    for (auto& c : text)
      if (c == L'/')
        c = L'\\';
    if (text.rfind(L"\\\\", 0) == 0) {
      const auto slash = text.find(L'\\', 2);
      text = slash == std::wstring::npos ? std::wstring() : text.substr(slash + 1);
    }
    return text;
  }

  HostPtr host_;
};

class Context final : public ComObject<IWbemContext> {
 public:
  Context() : ComObject(IID_IWbemContext) {}
  ~Context() override { DeleteAll(); }

  HRESULT STDMETHODCALLTYPE Clone(IWbemContext** ppNewCopy) override {
    if (ppNewCopy == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    auto* copy = new Context;
    for (auto& [name, value] : values_)
      copy->SetValue(name.c_str(), 0, &value);
    *ppNewCopy = copy;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE GetNames(long, SAFEARRAY** pNames) override {
    if (pNames == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(values_.size()));
    if (array == nullptr)
      return wbem(WBEM_E_OUT_OF_MEMORY);
    LONG at = 0;
    for (auto& entry : values_) {
      BSTR name = SysAllocString(entry.first.c_str());
      SafeArrayPutElement(array, &at, name);
      SysFreeString(name);
      ++at;
    }
    *pNames = array;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE BeginEnumeration(long) override {
    cursor_ = values_.begin();
    enumerating_ = true;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE Next(long, BSTR* pstrName, VARIANT* pValue) override {
    if (!enumerating_)
      return wbem(WBEM_E_UNEXPECTED);
    if (cursor_ == values_.end())
      return WBEM_S_NO_MORE_DATA;
    if (pstrName != nullptr)
      *pstrName = SysAllocString(cursor_->first.c_str());
    if (pValue != nullptr) {
      VariantInit(pValue);
      VariantCopy(pValue, &cursor_->second);
    }
    ++cursor_;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE EndEnumeration() override {
    enumerating_ = false;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR wszName, long, VARIANT* pValue) override {
    if (wszName == nullptr || pValue == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantCopy(&copy, pValue)))
      return wbem(WBEM_E_INVALID_PARAMETER);
    auto [it, fresh] = values_.try_emplace(wszName);
    if (!fresh)
      VariantClear(&it->second);
    it->second = copy;
    enumerating_ = false;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE GetValue(LPCWSTR wszName, long, VARIANT* pValue) override {
    if (wszName == nullptr || pValue == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    auto it = values_.find(wszName);
    if (it == values_.end())
      return wbem(WBEM_E_NOT_FOUND);
    VariantInit(pValue);
    return SUCCEEDED(VariantCopy(pValue, &it->second)) ? wbem(WBEM_S_NO_ERROR) : wbem(WBEM_E_OUT_OF_MEMORY);
  }
  HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR wszName, long) override {
    if (wszName == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    auto it = values_.find(wszName);
    if (it == values_.end())
      return WBEM_S_NO_ERROR;
    VariantClear(&it->second);
    values_.erase(it);
    enumerating_ = false;
    return WBEM_S_NO_ERROR;
  }
  HRESULT STDMETHODCALLTYPE DeleteAll() override {
    for (auto& entry : values_)
      VariantClear(&entry.second);
    values_.clear();
    enumerating_ = false;
    return WBEM_S_NO_ERROR;
  }

 private:
  std::map<std::wstring, VARIANT, cim::ILess> values_;
  std::map<std::wstring, VARIANT, cim::ILess>::iterator cursor_;
  bool enumerating_ = false;
};

// Reads a context's boolean through the interface, so a foreign context works too.
bool context_flag(IWbemContext* context, const wchar_t* name) {
  if (context == nullptr)
    return false;
  VARIANT value;
  VariantInit(&value);
  const bool set =
      SUCCEEDED(context->GetValue(name, 0, &value)) && value.vt == VT_BOOL && value.boolVal != VARIANT_FALSE;
  VariantClear(&value);
  return set;
}

class TextSource final : public ComObject<IWbemObjectTextSrc> {
 public:
  explicit TextSource(HostPtr host) : ComObject(IID_IWbemObjectTextSrc), host_(std::move(host)) {}

  HRESULT STDMETHODCALLTYPE GetText(long lFlags, IWbemClassObject* pObj, ULONG uObjTextFormat, IWbemContext* pCtx,
                                    BSTR* strText) override {
    if (strText != nullptr)
      *strText = nullptr;
    const ClassObject* object = as_simulated(pObj);
    const std::wstring subject = object != nullptr ? object->state().cls->name() : std::wstring();
    auto finish = [&](HRESULT hr) { return recorded(host_, L"GetText", subject, {}, hr); };
    if (lFlags != 0 || pObj == nullptr || strText == nullptr)
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    if (uObjTextFormat != WMI_OBJ_TEXT_CIM_DTD_2_0 && uObjTextFormat != WMI_OBJ_TEXT_WMI_DTD_2_0)
      return finish(wbem(WBEM_E_INVALID_PARAMETER));
    if (object == nullptr)
      return finish(wbem(WBEM_E_INVALID_OBJECT));
    if (auto forced = forced_by(*host_, provider::Call::get_text, subject))
      return finish(*forced);

    cimxml::RenderOptions options;
    options.include_qualifiers = context_flag(pCtx, L"IncludeQualifiers");
    options.exclude_system_properties = context_flag(pCtx, L"ExcludeSystemProperties");
    cimxml::InstanceView view{object->state().cls, &object->state().values(), {}};
    for (const wchar_t* name : {L"__CLASS", L"__PATH", L"__RELPATH", L"__SERVER", L"__NAMESPACE", L"__GENUS",
                                L"__DERIVATION", L"__DYNASTY", L"__SUPERCLASS", L"__PROPERTY_COUNT"}) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(const_cast<ClassObject*>(object)->read(name, &value, nullptr, nullptr))) {
        if (auto converted = from_variant(value))
          view.system_properties.emplace_back(name, *converted);
      }
      VariantClear(&value);
    }
    const std::wstring text = cimxml::render_instance(view, options);
    *strText = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return finish(*strText != nullptr ? wbem(WBEM_S_NO_ERROR) : wbem(WBEM_E_OUT_OF_MEMORY));
  }

  HRESULT STDMETHODCALLTYPE CreateFromText(long lFlags, BSTR strText, ULONG uObjTextFormat, IWbemContext*,
                                           IWbemClassObject** pNewObj) override {
    if (lFlags != 0 || strText == nullptr || pNewObj == nullptr)
      return wbem(WBEM_E_INVALID_PARAMETER);
    *pNewObj = nullptr;
    if (uObjTextFormat != WMI_OBJ_TEXT_CIM_DTD_2_0 && uObjTextFormat != WMI_OBJ_TEXT_WMI_DTD_2_0)
      return wbem(WBEM_E_INVALID_PARAMETER);
    const cim::Schema& schema = host_->repository().schema();
    auto parsed = cimxml::parse_instance(std::wstring_view(strText, SysStringLen(strText)), schema);
    if (!parsed)
      return wbem(WBEM_E_INVALID_SYNTAX);
    const cim::ClassDef* cls = schema.find(parsed->class_name);
    if (cls == nullptr)
      return wbem(WBEM_E_INVALID_CLASS);
    IWbemClassObject* klass = make_class_object(host_, *cls);
    IWbemClassObject* instance = nullptr;
    HRESULT hr = klass->SpawnInstance(0, &instance);
    klass->Release();
    if (FAILED(hr))
      return hr;
    for (const auto& [name, value] : parsed->properties) {
      VARIANT v;
      hr = to_variant(value, &v);
      if (SUCCEEDED(hr))
        hr = instance->Put(name.c_str(), 0, &v, 0);
      VariantClear(&v);
      if (FAILED(hr)) {
        instance->Release();
        return hr;
      }
    }
    *pNewObj = instance;
    return WBEM_S_NO_ERROR;
  }

 private:
  HostPtr host_;
};

// One class object per CLSID; each CreateInstance makes a fresh object. CoCreateInstance reaches
// CreateInstance on every platform, so this is where its faults are made and its calls recorded.
template <class Make>
class Factory final : public ComObject<IClassFactory> {
 public:
  Factory(HostPtr host, const wchar_t* name, Make make)
      : ComObject(IID_IClassFactory), host_(std::move(host)), name_(name), make_(std::move(make)) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr)
      return E_POINTER;
    *ppvObject = nullptr;
    auto finish = [&](HRESULT hr) { return recorded(host_, L"CoCreateInstance", name_, {}, hr); };
    if (pUnkOuter != nullptr)
      return finish(CLASS_E_NOAGGREGATION);
    if (auto forced = forced_by(*host_, provider::Call::co_create_instance, name_))
      return finish(*forced);
    IUnknown* object = make_();
    const HRESULT hr = object->QueryInterface(riid, ppvObject);
    object->Release();
    return finish(hr);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  HostPtr host_;
  const wchar_t* name_;
  Make make_;
};

template <class Make>
IClassFactory* factory(HostPtr host, const wchar_t* name, Make make) {
  return new Factory<Make>(std::move(host), name, std::move(make));
}

}  // namespace

Installation::Installation(std::shared_ptr<provider::Host> host) : host_(std::move(host)) {
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  uninitialise_ = SUCCEEDED(init);
  HostPtr shared = host_;
  IClassFactory* factories[3] = {
      factory(shared, L"WbemLocator", [shared]() -> IUnknown* { return new Locator(shared); }),
      factory(shared, L"WbemContext", []() -> IUnknown* { return new Context; }),
      factory(shared, L"WbemObjectTextSrc", [shared]() -> IUnknown* { return new TextSource(shared); }),
  };
  const CLSID* classes[3] = {&CLSID_WbemLocator, &CLSID_WbemContext, &CLSID_WbemObjectTextSrc};
  HRESULT failed = S_OK;
  for (int i = 0; i < 3; ++i) {
    DWORD cookie = 0;
    const HRESULT hr = SUCCEEDED(failed) ? CoRegisterClassObject(*classes[i], factories[i], CLSCTX_INPROC_SERVER,
                                                                 REGCLS_MULTIPLEUSE, &cookie)
                                         : failed;
    if (FAILED(hr))
      failed = hr;
    cookies_[i] = cookie;
    factories[i]->Release();  // the class table holds its own reference
  }
  if (FAILED(failed)) {
    revoke();
    throw std::runtime_error("registering the simulated WMI classes failed: HRESULT " +
                             std::to_string(static_cast<unsigned long>(static_cast<std::uint32_t>(failed))));
  }
}

Installation::~Installation() {
  revoke();
}

void Installation::revoke() noexcept {
  for (DWORD& cookie : cookies_) {
    if (cookie != 0)
      CoRevokeClassObject(cookie);
    cookie = 0;
  }
  if (uninitialise_)
    CoUninitialize();
  uninitialise_ = false;
}

}  // namespace simhost::com
