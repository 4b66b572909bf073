// IWbemClassObject over a snapshot: a class definition, an instance as a query or GetObject
// found it, a method's parameter class, or a fresh instance of either.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com_object.hpp"
#include "simhost/cim/repository.hpp"
#include "simhost/provider/host.hpp"

namespace simhost::com {

// Lets the facade find its own object behind an IWbemClassObject it is handed.
extern const IID IID_SimulatedObject;

struct ObjectState {
  std::shared_ptr<provider::Host> host;
  std::shared_ptr<const cim::Schema> schema;  // the schema cls belongs to (parameter classes have their own)
  const cim::ClassDef* cls = nullptr;
  bool is_class = false;
  // Parallel to cls->properties(): classes, parameters and spawned instances own their values; a
  // found instance reads its snapshot's until a Put gives it values of its own.
  std::vector<cim::Value> own;
  cim::Snapshot found;  // the repository instance as a query or GetObject found it

  const std::vector<cim::Value>& values() const { return found && own.empty() ? found->values : own; }
  std::vector<cim::Value>& writable_values() {
    if (found && own.empty())
      own = found->values;
    return own;
  }
  // Where the object lives; none for classes, parameters and spawned instances.
  bool located() const noexcept { return found && !found->path.empty(); }
  std::wstring path() const { return found ? found->path.str() : std::wstring(); }
  std::wstring relpath() const { return found ? found->relpath() : std::wstring(); }

  // The properties a select list let through (indices of cls or of the queried ancestor);
  // null: every property. The others are absent, not just empty.
  std::shared_ptr<const std::vector<bool>> shown;
  bool defining = false;  // the empty class GetObject hands out for a null path, named by Put of __CLASS
};

// What a query lets its objects carry.
struct Projection {
  std::shared_ptr<const std::vector<bool>> shown;  // SELECT p1, p2; null for *
  bool keys_only = false;                          // KeysOnly: values of key properties only
};

class ClassObject final : public ComObject<IWbemClassObject> {
 public:
  explicit ClassObject(ObjectState&& state);
  // A repository instance as found: the state is built where it lives, with no temporary.
  ClassObject(const std::shared_ptr<provider::Host>& host, cim::Snapshot&& found);

  const ObjectState& state() const noexcept { return state_; }
  // Property values that are set (not null), by their declared names.
  cim::PropertyList set_properties() const;

  HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** ppQualSet) override;
  // Get as the facade's own code reads a property: no fault rule applies and nothing is recorded.
  HRESULT read(LPCWSTR wszName, VARIANT* pVal, CIMTYPE* pType, long* plFlavor);
  HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) override;
  HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE Type) override;
  HRESULT STDMETHODCALLTYPE Delete(LPCWSTR wszName) override;
  HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR wszQualifierName, long lFlags, VARIANT* pQualifierVal,
                                     SAFEARRAY** pNames) override;
  HRESULT STDMETHODCALLTYPE BeginEnumeration(long lEnumFlags) override;
  HRESULT STDMETHODCALLTYPE Next(long lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) override;
  HRESULT STDMETHODCALLTYPE EndEnumeration() override;
  HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) override;
  HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** ppCopy) override;
  HRESULT STDMETHODCALLTYPE GetObjectText(long lFlags, BSTR* pstrObjectText) override;
  HRESULT STDMETHODCALLTYPE SpawnDerivedClass(long lFlags, IWbemClassObject** ppNewClass) override;
  HRESULT STDMETHODCALLTYPE SpawnInstance(long lFlags, IWbemClassObject** ppNewInstance) override;
  HRESULT STDMETHODCALLTYPE CompareTo(long lFlags, IWbemClassObject* pCompareTo) override;
  HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) override;
  HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR strAncestor) override;
  HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, long lFlags, IWbemClassObject** ppInSignature,
                                      IWbemClassObject** ppOutSignature) override;
  HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR wszName, long lFlags, IWbemClassObject* pInSignature,
                                      IWbemClassObject* pOutSignature) override;
  HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR wszName) override;
  HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(long lEnumFlags) override;
  HRESULT STDMETHODCALLTYPE NextMethod(long lFlags, BSTR* pstrName, IWbemClassObject** ppInSignature,
                                       IWbemClassObject** ppOutSignature) override;
  HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override;
  HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) override;
  HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) override;

 private:
  bool query_extra(REFIID riid, void** ppv) override;
  // System properties in the order WMI lists them, with this object's values.
  std::vector<std::pair<std::wstring, cim::Value>> system_properties() const;
  std::vector<std::wstring> names(long flags) const;
  void record(const wchar_t* call, std::wstring subject, std::wstring detail, HRESULT result) const;
  bool visible(std::size_t index) const noexcept {
    return !state_.shown || (index < state_.shown->size() && (*state_.shown)[index]);
  }
  std::optional<std::size_t> visible_index(const wchar_t* name) const;
  HRESULT name_class(const VARIANT* name);

  ObjectState state_;
  std::vector<std::wstring> enumeration_;
  std::size_t enumeration_at_ = 0;
  bool enumerating_ = false;
};

// The object behind an interface the facade handed out, or null for a foreign one.
ClassObject* as_simulated(IWbemClassObject* object) noexcept;

// A snapshot of a repository instance, as queries and GetObject hand them out; null when it is
// gone.
IWbemClassObject* make_instance_object(const std::shared_ptr<provider::Host>& host, cim::InstanceId id,
                                       const Projection& projection = {});
// The empty class object GetObject hands out for a null or empty path: no name, no properties,
// until Put of __CLASS names it.
IWbemClassObject* make_empty_class(const std::shared_ptr<provider::Host>& host);
// The class definition, as GetObject of a class name hands it out.
IWbemClassObject* make_class_object(const std::shared_ptr<provider::Host>& host, const cim::ClassDef& cls);
// The in- or out-parameter class of a method (out carries ReturnValue first); null when the
// method has no in-parameters.
IWbemClassObject* make_parameter_class(const std::shared_ptr<provider::Host>& host, const cim::ClassDef& cls,
                                       const cim::MethodDecl& method, bool out);
// Out-parameters of a completed ExecMethod.
IWbemClassObject* make_out_parameters(const std::shared_ptr<provider::Host>& host, const cim::ClassDef& cls,
                                      const cim::MethodDecl& method, const cim::PropertyList& values);

}  // namespace simhost::com
