// CIM values <-> VARIANTs, as WMI's automation mapping has them.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <optional>
#include <string>

#include "simhost/cim/schema.hpp"
#include "simhost/cim/value.hpp"

namespace simhost::com {

// The CIMTYPE code of a declared type (with CIM_FLAG_ARRAY for arrays).
CIMTYPE cim_type_code(const cim::TypeRef& type) noexcept;

// Fills *out (which the caller has initialised or cleared): string, datetime, reference and the
// 64-bit integers as VT_BSTR; uint16, uint32, sint32 as VT_I4; sint8, sint16, char16 as VT_I2;
// uint8 as VT_UI1; boolean as VT_BOOL; reals as VT_R4/VT_R8; arrays as VT_ARRAY of those;
// null as VT_NULL. E_OUTOFMEMORY when a BSTR or array cannot be made.
HRESULT to_variant(const cim::Value& value, VARIANT* out);

// The value a VARIANT carries, typed after its VARTYPE, for conversion to a property's type.
// VT_EMPTY and VT_NULL give a null; nullopt for a VARTYPE WMI does not take.
std::optional<cim::Value> from_variant(const VARIANT& v);

// The value Put stores for a VARIANT (null for a null pointer, VT_EMPTY or VT_NULL): the VARIANT
// coerced by VariantChangeType to the automation type of `declared` and range-checked, with
// the exceptions IWbemClassObject::Put documents for uint32 (VT_I2 refused, VT_ARRAY | VT_R8
// refused for an array) and an empty VT_ARRAY | VT_VARIANT for any array. 64-bit integers given
// as text must be decimal. WBEM_E_TYPE_MISMATCH when it does not convert; `out` is then unset.
HRESULT put_value(const VARIANT* value, const cim::TypeRef& declared, cim::Value& out);

// Text of a value for the transcript: scalars as WMI prints them, arrays as {a,b}, null as NULL.
std::wstring describe(const cim::Value& value);

}  // namespace simhost::com
