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

// Text of a value for the transcript: scalars as WMI prints them, arrays as {a,b}, null as NULL.
std::wstring describe(const cim::Value& value);

}  // namespace simhost::com
