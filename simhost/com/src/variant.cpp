#include "variant.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

namespace simhost::com {

namespace {
HRESULT wbem_type_mismatch() {
  return static_cast<HRESULT>(WBEM_E_TYPE_MISMATCH);
}
}  // namespace

using cim::CimType;
using cim::Scalar;
using cim::Value;

CIMTYPE cim_type_code(const cim::TypeRef& type) noexcept {
  CIMTYPE code = CIM_EMPTY;
  switch (type.type) {
    case CimType::String:
      code = CIM_STRING;
      break;
    case CimType::Boolean:
      code = CIM_BOOLEAN;
      break;
    case CimType::UInt8:
      code = CIM_UINT8;
      break;
    case CimType::SInt8:
      code = CIM_SINT8;
      break;
    case CimType::UInt16:
      code = CIM_UINT16;
      break;
    case CimType::SInt16:
      code = CIM_SINT16;
      break;
    case CimType::UInt32:
      code = CIM_UINT32;
      break;
    case CimType::SInt32:
      code = CIM_SINT32;
      break;
    case CimType::UInt64:
      code = CIM_UINT64;
      break;
    case CimType::SInt64:
      code = CIM_SINT64;
      break;
    case CimType::Real32:
      code = CIM_REAL32;
      break;
    case CimType::Real64:
      code = CIM_REAL64;
      break;
    case CimType::DateTime:
      code = CIM_DATETIME;
      break;
    case CimType::Reference:
      code = CIM_REFERENCE;
      break;
    case CimType::Char16:
      code = CIM_CHAR16;
      break;
  }
  return type.array ? (code | CIM_FLAG_ARRAY) : code;
}

namespace {

VARTYPE element_vartype(CimType t) noexcept {
  switch (t) {
    case CimType::Boolean:
      return VT_BOOL;
    case CimType::UInt8:
      return VT_UI1;
    case CimType::SInt8:
    case CimType::SInt16:
    case CimType::Char16:
      return VT_I2;
    case CimType::UInt16:
    case CimType::UInt32:
    case CimType::SInt32:
      return VT_I4;
    case CimType::Real32:
      return VT_R4;
    case CimType::Real64:
      return VT_R8;
    default:
      return VT_BSTR;  // text and the 64-bit integers
  }
}

std::int64_t signed_of(const Scalar& s) {
  if (const auto* i = std::get_if<std::int64_t>(&s))
    return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&s))
    return static_cast<std::int64_t>(*u);
  if (const auto* b = std::get_if<bool>(&s))
    return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&s))
    return static_cast<std::int64_t>(*d);
  return 0;
}

// Fills one element of the VARTYPE chosen for t into `slot` (a VARIANT used as scratch).
HRESULT scalar_to_variant(CimType t, const Scalar& s, VARIANT* slot) {
  switch (element_vartype(t)) {
    case VT_BOOL:
      slot->vt = VT_BOOL;
      slot->boolVal = std::get<bool>(s) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_UI1:
      slot->vt = VT_UI1;
      slot->bVal = static_cast<BYTE>(signed_of(s));
      return S_OK;
    case VT_I2:
      slot->vt = VT_I2;
      slot->iVal = static_cast<SHORT>(signed_of(s));
      return S_OK;
    case VT_I4:
      // A uint32 above 2^31 arrives wrapped, as WMI hands it out.
      slot->vt = VT_I4;
      slot->lVal = static_cast<LONG>(static_cast<std::uint32_t>(signed_of(s)));
      return S_OK;
    case VT_R4:
      slot->vt = VT_R4;
      slot->fltVal = static_cast<FLOAT>(std::get<double>(s));
      return S_OK;
    case VT_R8:
      slot->vt = VT_R8;
      slot->dblVal = std::get<double>(s);
      return S_OK;
    default: {
      const std::wstring text = cim::scalar_text(s);
      slot->vt = VT_BSTR;
      slot->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      return slot->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    }
  }
}

}  // namespace

HRESULT to_variant(const Value& value, VARIANT* out) {
  VariantInit(out);
  if (value.is_null()) {
    out->vt = VT_NULL;
    return S_OK;
  }
  if (!value.is_array())
    return scalar_to_variant(value.type(), value.get(), out);

  const VARTYPE vt = element_vartype(value.type());
  const auto& items = value.items();
  SAFEARRAY* array = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(items.size()));
  if (array == nullptr)
    return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < items.size(); ++i) {
    VARIANT element;
    VariantInit(&element);
    HRESULT hr = scalar_to_variant(value.type(), items[i], &element);
    if (SUCCEEDED(hr)) {
      LONG index = static_cast<LONG>(i);
      void* data = vt == VT_BSTR ? static_cast<void*>(element.bstrVal) : static_cast<void*>(&element.bVal);
      hr = SafeArrayPutElement(array, &index, data);
    }
    VariantClear(&element);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  out->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
  out->parray = array;
  return S_OK;
}

namespace {

std::optional<Value> scalar_from(VARTYPE vt, const void* data) {
  switch (vt) {
    case VT_BSTR: {
      BSTR b = *static_cast<const BSTR*>(data);
      return Value::string(b != nullptr ? std::wstring(b, SysStringLen(b)) : std::wstring());
    }
    case VT_BOOL:
      return Value::boolean(*static_cast<const VARIANT_BOOL*>(data) != VARIANT_FALSE);
    case VT_I1:
      return Value::sint8(*static_cast<const signed char*>(data));
    case VT_UI1:
      return Value::uint8(*static_cast<const BYTE*>(data));
    case VT_I2:
      return Value::sint16(*static_cast<const SHORT*>(data));
    case VT_UI2:
      return Value::uint16(*static_cast<const USHORT*>(data));
    case VT_I4:
    case VT_INT:
      return Value::sint32(*static_cast<const LONG*>(data));
    case VT_UI4:
    case VT_UINT:
      return Value::uint32(*static_cast<const ULONG*>(data));
    case VT_I8:
      return Value::sint64(*static_cast<const LONGLONG*>(data));
    case VT_UI8:
      return Value::uint64(*static_cast<const ULONGLONG*>(data));
    case VT_R4:
      return Value::real32(*static_cast<const FLOAT*>(data));
    case VT_R8:
      return Value::real64(*static_cast<const DOUBLE*>(data));
    default:
      return std::nullopt;
  }
}

// Calls `each(element)` with a pointer to every element of a one-dimensional array, in order,
// until it returns false. False for another shape or when an element was refused.
template <class Each>
bool each_element(SAFEARRAY* array, Each each) {
  if (SafeArrayGetDim(array) != 1)
    return false;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data)))
    return false;
  const UINT size = SafeArrayGetElemsize(array);
  bool ok = true;
  for (LONG i = 0; i <= upper - lower && ok; ++i)
    ok = each(static_cast<const char*>(data) + static_cast<std::size_t>(i) * size);
  SafeArrayUnaccessData(array);
  return ok;
}

}  // namespace

std::optional<Value> from_variant(const VARIANT& v) {
  if (v.vt == VT_EMPTY || v.vt == VT_NULL)
    return Value::null(CimType::String);
  if ((v.vt & VT_BYREF) != 0)
    return std::nullopt;
  if ((v.vt & VT_ARRAY) == 0)
    return scalar_from(v.vt, &v.bVal);

  const VARTYPE vt = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
  SAFEARRAY* array = v.parray;
  if (array == nullptr)
    return Value::null(CimType::String, true);
  std::vector<Scalar> items;
  std::optional<CimType> type;
  const bool ok = each_element(array, [&](const char* at) {
    auto element = scalar_from(vt, at);
    if (!element)
      return false;
    type = element->type();
    items.push_back(element->get());
    return true;
  });
  if (!ok)
    return std::nullopt;
  if (!type) {
    auto probe = scalar_from(vt, vt == VT_BSTR ? static_cast<const void*>(&v.bstrVal) : &v.bVal);
    if (!probe && vt != VT_BSTR)
      return std::nullopt;
    type = probe ? probe->type() : CimType::String;
  }
  return Value::array(*type, std::move(items));
}

namespace {

bool decimal(const std::wstring& text, bool sign_allowed) {
  std::size_t i = sign_allowed && !text.empty() && text[0] == L'-' ? 1 : 0;
  if (i == text.size())
    return false;
  for (; i < text.size(); ++i)
    if (text[i] < L'0' || text[i] > L'9')
      return false;
  return true;
}

// One scalar (or one array element) of the VARIANT into type t.
std::optional<Scalar> put_scalar(const VARIANT& v, CimType t, bool in_array) {
  if (t == CimType::UInt32) {
    if (v.vt == VT_I2 || (in_array && v.vt == VT_R8))
      return std::nullopt;
    if (v.vt == VT_UI4 || v.vt == VT_UINT)  // fits as it is; VT_I4 would only wrap it
      return Scalar{std::uint64_t{v.ulVal}};
  }
  VARIANT changed;
  VariantInit(&changed);
  if (FAILED(VariantChangeType(&changed, const_cast<VARIANT*>(&v), 0, element_vartype(t))))
    return std::nullopt;
  std::optional<Value> value = scalar_from(changed.vt, &changed.bVal);
  VariantClear(&changed);
  if (!value)
    return std::nullopt;
  if (t == CimType::UInt32)  // a VT_I4 carries a uint32's bits, as Get hands it out
    return Scalar{std::uint64_t{static_cast<std::uint32_t>(*value->as_int())}};
  if ((t == CimType::UInt64 || t == CimType::SInt64) && !decimal(*value->as_string(), t == CimType::SInt64))
    return std::nullopt;
  Value converted;
  if (cim::convert(*value, t, false, converted) != cim::Conversion::ok)
    return std::nullopt;
  return converted.get();
}

}  // namespace

HRESULT put_value(const VARIANT* value, const cim::TypeRef& declared, Value& out) {
  if (value == nullptr || value->vt == VT_EMPTY || value->vt == VT_NULL) {
    out = Value::null(declared.type, declared.array);
    return S_OK;
  }
  const bool array = (value->vt & VT_ARRAY) != 0;
  if ((value->vt & VT_BYREF) != 0 || array != declared.array)
    return wbem_type_mismatch();
  if (!array) {
    auto scalar = put_scalar(*value, declared.type, false);
    if (!scalar)
      return wbem_type_mismatch();
    out = Value::scalar(declared.type, std::move(*scalar));
    return S_OK;
  }
  SAFEARRAY* elements = value->parray;
  if (elements == nullptr) {
    out = Value::null(declared.type, true);
    return S_OK;
  }
  const VARTYPE vt = static_cast<VARTYPE>(value->vt & VT_TYPEMASK);
  const UINT size = SafeArrayGetElemsize(elements);
  std::vector<Scalar> items;
  const bool ok = each_element(elements, [&](const char* at) {
    VARIANT element;
    VariantInit(&element);
    if (vt == VT_VARIANT) {
      element = *reinterpret_cast<const VARIANT*>(at);  // borrowed, not cleared
    } else {
      element.vt = vt;
      std::memcpy(&element.bVal, at, size);
    }
    auto scalar = put_scalar(element, declared.type, true);
    if (scalar)
      items.push_back(std::move(*scalar));
    return scalar.has_value();
  });
  if (!ok)
    return wbem_type_mismatch();
  out = Value::array(declared.type, std::move(items));
  return S_OK;
}

std::wstring describe(const Value& value) {
  if (value.is_null())
    return L"NULL";
  if (!value.is_array())
    return cim::scalar_text(value.get());
  std::wstring text = L"{";
  const auto& items = value.items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0)
      text += L",";
    text += cim::scalar_text(items[i]);
  }
  return text + L"}";
}

}  // namespace simhost::com
