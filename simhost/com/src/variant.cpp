#include "variant.hpp"

#include <cstdint>
#include <vector>

namespace simhost::com {

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
  if (SafeArrayGetDim(array) != 1)
    return std::nullopt;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data)))
    return std::nullopt;
  const UINT size = SafeArrayGetElemsize(array);
  std::vector<Scalar> items;
  std::optional<CimType> type;
  bool ok = true;
  for (LONG i = 0; i <= upper - lower && ok; ++i) {
    auto element = scalar_from(vt, static_cast<const char*>(data) + static_cast<std::size_t>(i) * size);
    ok = element.has_value();
    if (ok) {
      type = element->type();
      items.push_back(element->get());
    }
  }
  SafeArrayUnaccessData(array);
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
