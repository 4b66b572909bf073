// The simulated WMI service against what Windows documents: each row is one behaviour, the call
// that shows it, the result Windows gives, and where that result is written down.
#include <cstring>

#include "com_fixture.hpp"
#include "variant.hpp"

namespace {

using namespace simhost::test;

constexpr HRESULT kOk = WBEM_S_NO_ERROR;
constexpr HRESULT kFalse = WBEM_S_FALSE;
constexpr auto E(WBEMSTATUS status) {
  return static_cast<HRESULT>(status);
}
constexpr int kSome = -1;  // one object or more

constexpr char kExecQueryPage[] = "IWbemServices::ExecQuery method";
constexpr char kWineSelect[] = "Wine conformance test of IWbemServices::ExecQuery (test_select)";
constexpr char kWineSemisync[] = "Wine conformance test of IWbemServices::ExecQuery (test_query_semisync)";
constexpr char kWhere[] = "WHERE Clause (WMI)";
constexpr char kPutPage[] = "IWbemClassObject::Put method";

// The external switch of the default host, its path with keys in single quotes.
#define SWITCH_QUOTED \
  L"Msvm_VirtualSwitch.CreationClassName='Msvm_VirtualSwitch',Name='9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27'"
constexpr wchar_t kSwitchQuoted[] = SWITCH_QUOTED;

struct QueryRow {
  const wchar_t* language;  // null: a null BSTR
  const wchar_t* query;     // null: a null BSTR
  long flags;
  HRESULT exec;  // what ExecQuery returns
  HRESULT next;  // what the Next that ends the enumeration returns (when ExecQuery succeeded)
  int objects;   // handed out before that
  const char* source;
};

const QueryRow kQueries[] = {
    {nullptr, L"SELECT * FROM Msvm_VirtualSwitch", 0, E(WBEM_E_INVALID_PARAMETER), 0, 0, kWineSelect},
    {L"WQL", nullptr, 0, E(WBEM_E_INVALID_PARAMETER), 0, 0, kExecQueryPage},
    {L"WQL", L"", 0, E(WBEM_E_INVALID_PARAMETER), 0, 0, kWineSelect},
    {L"SQL", L"SELECT * FROM Msvm_VirtualSwitch", 0, E(WBEM_E_INVALID_QUERY_TYPE), 0, 0, kExecQueryPage},
    {L"SQL", nullptr, 0, E(WBEM_E_INVALID_PARAMETER), 0, 0, kWineSelect},
    {L"wql", L"select * from msvm_virtualswitch", 48, kOk, kFalse, 2, kWineSelect},
    // Semisynchronous calls hand the query's error to the first Next; synchronous ones return it.
    {L"WQL", L"SELECT * FROM Msvm_NoSuchClass", 48, kOk, E(WBEM_E_INVALID_CLASS), 0, kWineSemisync},
    {L"WQL", L"SELECT * FROM Msvm_NoSuchClass", 16, kOk, E(WBEM_E_INVALID_CLASS), 0, kExecQueryPage},
    {L"WQL", L"SELECT * FROM Msvm_NoSuchClass", 0, E(WBEM_E_INVALID_CLASS), 0, 0, kExecQueryPage},
    {L"WQL", L"SELECT * FROM Msvm_NoSuchClass", 32, E(WBEM_E_INVALID_CLASS), 0, 0, kExecQueryPage},
    {L"WQL", L"SELECT * FROM Msvm_VirtualSwitch WHERE", 48, kOk, E(WBEM_E_INVALID_QUERY), 0, kExecQueryPage},
    {L"WQL", L"SELECT * FROM Msvm_VirtualSwitch WHERE", 0, E(WBEM_E_INVALID_QUERY), 0, 0, kExecQueryPage},
    {L"WQL", L"ASSOCIATORS OF {Msvm_VirtualSwitch.CreationClassName=\"Msvm_VirtualSwitch\",Name=\"none\"}", 48, kOk,
     E(WBEM_E_NOT_FOUND), 0, kExecQueryPage},
    // Which backslashes a literal takes is the WQL grammar tests'; a literal may come first.
    {L"WQL", L"SELECT * FROM Msvm_VirtualSwitch WHERE 'EXTERNAL network' = ElementName", 48, kOk, kFalse, 1, kWhere},
    // Booleans: =, != and <> only; TRUE is 1 and FALSE is 0.
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound < TRUE", 0, E(WBEM_E_INVALID_QUERY), 0, 0, kWhere},
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound >= FALSE", 0, E(WBEM_E_INVALID_QUERY), 0, 0,
     kWhere},
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound = 1", 48, kOk, kFalse, kSome, kWhere},
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE IsBound != FALSE AND IsBound <> 0", 48, kOk, kFalse, kSome,
     kWhere},
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE HealthState IS 5", 0, E(WBEM_E_INVALID_QUERY), 0, 0,
     "WQL Operators"},
    {L"WQL", L"SELECT * FROM Msvm_ExternalEthernetPort WHERE ElementName IS NOT NULL", 48, kOk, kFalse, kSome,
     "WQL Operators"},
    // Paths may quote keys with '; association keywords take = only, never AND, and ClassDefsOnly
    // excludes ResultClass.
    {L"WQL", L"ASSOCIATORS OF {" SWITCH_QUOTED L"} WHERE ResultClass=Msvm_SwitchPort", 48, kOk, kFalse, kSome,
     "WMI Object Path Requirements"},
    {L"WQL", L"ASSOCIATORS OF {Msvm_VirtualSwitch.Name='x'} WHERE ClassDefsOnly ResultClass=Msvm_SwitchPort", 0,
     E(WBEM_E_INVALID_QUERY), 0, 0, "ASSOCIATORS OF Statement"},
    {L"WQL", L"REFERENCES OF {Msvm_VirtualSwitch.Name='x'} WHERE ClassDefsOnly ResultClass=Msvm_HostedAccessPoint", 0,
     E(WBEM_E_INVALID_QUERY), 0, 0, "REFERENCES OF Statement"},
    {L"WQL",
     L"REFERENCES OF {Msvm_VirtualSwitch.Name='x'} WHERE ResultClass=Msvm_HostedAccessPoint AND Role=Antecedent", 0,
     E(WBEM_E_INVALID_QUERY), 0, 0, "REFERENCES OF Statement"},
    {L"WQL", L"ASSOCIATORS OF {Msvm_VirtualSwitch.Name='x'} WHERE ResultClass != Msvm_SwitchPort", 0,
     E(WBEM_E_INVALID_QUERY), 0, 0, "REFERENCES OF Statement"},
};

class Conformance : public Facade {
 protected:
  // Runs a row's call: what ExecQuery returned, and, when it succeeded, the Next that ended the
  // enumeration and how many objects came before it.
  HRESULT Run(const QueryRow& row, HRESULT& last, int& objects) {
    BSTR language = row.language != nullptr ? SysAllocString(row.language) : nullptr;
    BSTR query = row.query != nullptr ? SysAllocString(row.query) : nullptr;
    Ref<IEnumWbemClassObject> found;
    const HRESULT hr = services_->ExecQuery(language, query, row.flags, nullptr, &found);
    SysFreeString(language);
    SysFreeString(query);
    objects = 0;
    last = kOk;
    while (SUCCEEDED(hr) && last == kOk) {
      auto* untouched = reinterpret_cast<IWbemClassObject*>(0x1);
      IWbemClassObject* object = untouched;
      ULONG returned = 7;
      last = found->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned);
      if (last != kOk) {
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(object, untouched) << "a failed Next leaves the caller's pointer alone";
        break;
      }
      object->Release();
      ++objects;
    }
    EXPECT_EQ(found.p == nullptr, FAILED(hr));
    return hr;
  }
};

TEST_F(Conformance, ExecQueryAndNextReportWhatWindowsReports) {
  for (const QueryRow& row : kQueries) {
    SCOPED_TRACE(std::string(row.source) + ": " + (row.query ? simhost::cim::narrow(row.query) : "(null query)"));
    HRESULT last = kOk;
    int objects = 0;
    EXPECT_EQ(Run(row, last, objects), row.exec);
    if (FAILED(row.exec))
      continue;
    EXPECT_EQ(last, row.next);
    if (row.objects == kSome) {
      EXPECT_GT(objects, 0);
    } else {
      EXPECT_EQ(objects, row.objects);
    }
  }
}

TEST_F(Conformance, NextRefusesMissingPointersAndCountsZeroForZero) {
  const char* source = "Wine conformance test of IEnumWbemClassObject::Next (test_IEnumWbemClassObject_Next)";
  SCOPED_TRACE(source);
  Ref<IEnumWbemClassObject> found;
  ASSERT_EQ(Exec(L"SELECT * FROM Msvm_VirtualSwitch", 0, found), kOk);
  IWbemClassObject* object = nullptr;
  ULONG count = 2;
  EXPECT_EQ(found->Next(10000, 1, nullptr, &count), E(WBEM_E_INVALID_PARAMETER));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(found->Next(10000, 1, &object, nullptr), E(WBEM_E_INVALID_PARAMETER));
  EXPECT_EQ(found->Next(10000, 0, &object, &count), kOk);
  EXPECT_EQ(count, 0u);
}

// What the objects of a query carry: a select list gives the named and the system properties
// only; KeysOnly fills the keys only.
TEST_F(Conformance, ObjectsCarryWhatTheQueryAskedFor) {
  const std::wstring keysOnly =
      std::wstring(L"ASSOCIATORS OF {") + kSwitchQuoted + L"} WHERE ResultClass=Msvm_SwitchPort KeysOnly";
  const struct {
    std::wstring query;
    const wchar_t* property;
    HRESULT get;
    VARTYPE vt;
    const char* source;
  } rows[] = {
      {L"SELECT ElementName FROM Msvm_VirtualSwitch", L"ElementName", kOk, VT_BSTR,
       "SELECT Statement for Data Queries"},
      {L"SELECT ElementName FROM Msvm_VirtualSwitch", L"HealthState", E(WBEM_E_NOT_FOUND), VT_EMPTY,
       "SELECT Statement for Data Queries"},
      {L"SELECT ElementName FROM Msvm_VirtualSwitch", L"__CLASS", kOk, VT_BSTR, "SELECT Statement for Data Queries"},
      {L"SELECT ElementName FROM Msvm_VirtualSwitch", L"__PATH", kOk, VT_BSTR, "SELECT Statement for Data Queries"},
      {keysOnly, L"Name", kOk, VT_BSTR, "WQL (SQL for WMI)"},
      {keysOnly, L"ElementName", kOk, VT_NULL, "WQL (SQL for WMI)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.source) + ": " + simhost::cim::narrow(row.query) + " / " +
                 simhost::cim::narrow(row.property));
    std::vector<IWbemClassObject*> objects;
    ASSERT_EQ(Query(row.query.c_str(), objects), kOk);
    ASSERT_FALSE(objects.empty());
    Var value;
    EXPECT_EQ(objects[0]->Get(row.property, 0, &value, nullptr, nullptr), row.get);
    EXPECT_EQ(value.v.vt, row.vt);
    for (IWbemClassObject* o : objects)
      o->Release();
  }
}

// A VARIANT for a coercion row.
struct Input {
  VARTYPE vt;
  double number = 0;
  std::size_t elements = 0;  // arrays
};

void Fill(const Input& in, VARIANT& v) {
  VariantInit(&v);
  if ((in.vt & VT_ARRAY) == 0) {
    v.vt = in.vt;
    if (in.vt == VT_I2)
      v.iVal = static_cast<SHORT>(in.number);
    else if (in.vt == VT_I4)
      v.lVal = static_cast<LONG>(in.number);
    else if (in.vt == VT_R8)
      v.dblVal = in.number;
    return;
  }
  const VARTYPE element = static_cast<VARTYPE>(in.vt & VT_TYPEMASK);
  SAFEARRAY* array = SafeArrayCreateVector(element, 0, static_cast<ULONG>(in.elements));
  for (LONG i = 0; i < static_cast<LONG>(in.elements); ++i) {
    VARIANT item;
    VariantInit(&item);
    item.vt = VT_R8;
    item.dblVal = in.number;
    if (element != VT_VARIANT)
      VariantChangeType(&item, &item, 0, element);
    SafeArrayPutElement(array, &i, element == VT_VARIANT ? static_cast<void*>(&item) : &item.bVal);
  }
  v.vt = in.vt;
  v.parray = array;
}

TEST(PutCoercion, FollowsThePutDocumentation) {
  using simhost::cim::CimType;
  const struct {
    Input in;
    simhost::cim::TypeRef property;
    HRESULT hr;
    const wchar_t* stored;  // as the transcript renders it
  } rows[] = {
      {{VT_I4, 5}, {CimType::UInt32, false, {}}, kOk, L"5"},
      {{VT_R8, 5}, {CimType::UInt32, false, {}}, kOk, L"5"},
      {{VT_I2, 5}, {CimType::UInt32, false, {}}, E(WBEM_E_TYPE_MISMATCH), nullptr},
      {{VT_ARRAY | VT_R8, 5, 2}, {CimType::UInt32, true, {}}, E(WBEM_E_TYPE_MISMATCH), nullptr},
      {{VT_ARRAY | VT_I4, 5, 2}, {CimType::UInt32, true, {}}, kOk, L"{5,5}"},
      {{VT_ARRAY | VT_VARIANT, 0, 0}, {CimType::String, true, {}}, kOk, L"{}"},
      {{VT_ARRAY | VT_VARIANT, 0, 0}, {CimType::UInt16, true, {}}, kOk, L"{}"},
      {{VT_NULL}, {CimType::UInt32, false, {}}, kOk, L"NULL"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(kPutPage) + ": VARTYPE " + std::to_string(row.in.vt) + " into CIM type " +
                 std::to_string(static_cast<int>(row.property.type)) + (row.property.array ? "[]" : ""));
    VARIANT v;
    Fill(row.in, v);
    simhost::cim::Value stored;
    EXPECT_EQ(simhost::com::put_value(&v, row.property, stored), row.hr);
    if (row.stored != nullptr) {
      EXPECT_EQ(simhost::com::describe(stored), row.stored);
    }
    VariantClear(&v);
  }
}

// On an instance the type of a property is fixed: a CIM type given with the value must be its
// own, and a refused value leaves the property as it was.
TEST_F(Conformance, PutOnAnInstanceKeepsItsPropertyTypes) {
  SCOPED_TRACE(kPutPage);
  std::vector<IWbemClassObject*> adapters;
  ASSERT_EQ(Query(L"SELECT * FROM Msvm_SyntheticEthernetPortSettingData", adapters), kOk);
  ASSERT_FALSE(adapters.empty());
  IWbemClassObject* adapter = adapters[0];
  Var before;
  ASSERT_EQ(adapter->Get(L"StaticMacAddress", 0, &before, nullptr, nullptr), kOk);
  Var yes(true);
  EXPECT_EQ(adapter->Put(L"StaticMacAddress", 0, &yes, CIM_STRING), E(WBEM_E_TYPE_MISMATCH));
  Var after;
  ASSERT_EQ(adapter->Get(L"StaticMacAddress", 0, &after, nullptr, nullptr), kOk);
  EXPECT_EQ(after.v.vt, before.v.vt);
  EXPECT_EQ(after.v.boolVal, before.v.boolVal);
  EXPECT_EQ(adapter->Put(L"StaticMacAddress", 0, &yes, CIM_BOOLEAN), kOk);
  EXPECT_EQ(adapter->Put(L"ElementName", 0, nullptr, 0), kOk);  // a null pointer sets NULL
  Var cleared;
  ASSERT_EQ(adapter->Get(L"ElementName", 0, &cleared, nullptr, nullptr), kOk);
  EXPECT_EQ(cleared.v.vt, VT_NULL);
  Var empty;
  empty.v.vt = VT_ARRAY | VT_VARIANT;
  empty.v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  EXPECT_EQ(adapter->Put(L"Connection", 0, &empty, 0), kOk);
  Var connection;
  ASSERT_EQ(adapter->Get(L"Connection", 0, &connection, nullptr, nullptr), kOk);
  EXPECT_EQ(connection.v.vt, VT_ARRAY | VT_BSTR);
  for (IWbemClassObject* o : adapters)
    o->Release();
}

TEST_F(Conformance, GetObjectOfANullOrEmptyPathGivesAnEmptyClass) {
  for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L""}) {
    SCOPED_TRACE(path == nullptr
                     ? "IWbemServices::GetObject method: null path"
                     : "Wine conformance test of IWbemServices::GetObject (test_Win32_Service): empty path");
    BSTR text = path != nullptr ? SysAllocString(path) : nullptr;
    Ref<IWbemClassObject> object;
    EXPECT_EQ(services_->GetObject(text, 0, nullptr, &object, nullptr), kOk);
    SysFreeString(text);
    ASSERT_NE(object.p, nullptr);
    Var genus;
    ASSERT_EQ(object->Get(L"__GENUS", 0, &genus, nullptr, nullptr), kOk);
    EXPECT_EQ(genus.v.lVal, WBEM_GENUS_CLASS);
    Var name;
    ASSERT_EQ(object->Get(L"__CLASS", 0, &name, nullptr, nullptr), kOk);
    EXPECT_EQ(name.v.vt, VT_NULL);
    // The Wine test names the new class through __CLASS.
    Var given(L"MyClass");
    EXPECT_EQ(object->Put(L"__CLASS", 0, &given, 0), kOk);
    EXPECT_EQ(Text(object, L"__CLASS"), L"MyClass");
  }
}

TEST_F(Conformance, GetObjectTakesQuotedKeysAndReportsWhatIsMissing) {
  Ref<IWbemClassObject> found;
  Bstr quoted(kSwitchQuoted);
  EXPECT_EQ(services_->GetObject(quoted, 0, nullptr, &found, nullptr), kOk) << "WMI Object Path Requirements";
  ASSERT_NE(found.p, nullptr);
  EXPECT_NE(Text(found, L"__PATH").find(L"Name=\"9B4E6F1C-2A7D-4E83-B5C9-1F0D3A8E6B27\""), std::wstring::npos);

  auto* untouched = reinterpret_cast<IWbemClassObject*>(0x1);
  IWbemClassObject* missing = untouched;
  Bstr none(L"Msvm_VirtualSwitch.CreationClassName=\"Msvm_VirtualSwitch\",Name=\"none\"");
  EXPECT_EQ(services_->GetObject(none, 0, nullptr, &missing, nullptr), E(WBEM_E_NOT_FOUND))
      << "Wine conformance test of IWbemServices::GetObject (test_Win32_Service)";
  EXPECT_EQ(missing, nullptr);
}

}  // namespace
