// VariantChangeType among the scalar types WMI properties carry: from integers of every width,
// reals, VT_BOOL, VT_BSTR, VT_EMPTY and VT_NULL to the types the simulated host's Put asks for
// (VT_UI1, VT_I2, VT_I4, reals, VT_BOOL and VT_BSTR; VT_EMPTY too).
//
// Text is read and written in the invariant form ('.' as decimal separator, no grouping) whatever
// the locale says: WMI hands over values in that form.
#include <oleauto.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace winapi::detail {
bool IsValidVariantType(VARTYPE vt);  // oleauto.cpp
}

namespace {

// A source value reduced to what the conversions need.
struct Value {
  enum class Kind { Empty, Signed, Unsigned, Real, Boolean, Text } kind = Kind::Empty;
  int64_t s = 0;
  uint64_t u = 0;
  double real = 0;
  bool realIsSingle = false;  // a VT_R4 prints with single precision
  bool boolean = false;
  BSTR text = nullptr;  // borrowed from the source
};

// Reads the source, following one level of VT_BYREF. False for types these conversions do not cover.
bool Read(const VARIANT& v, Value& out) {
  const bool byref = (v.vt & VT_BYREF) != 0;
  const VARTYPE vt = v.vt & ~VT_BYREF;
  using K = Value::Kind;
  switch (vt) {
    case VT_EMPTY:
      out.kind = K::Empty;
      return !byref;
    case VT_I1:
      out.kind = K::Signed;
      out.s = static_cast<signed char>(byref ? *v.pcVal : v.cVal);
      return true;
    case VT_I2:
      out.kind = K::Signed;
      out.s = byref ? *v.piVal : v.iVal;
      return true;
    case VT_I4:
      out.kind = K::Signed;
      out.s = byref ? *v.plVal : v.lVal;
      return true;
    case VT_INT:
      out.kind = K::Signed;
      out.s = byref ? *v.pintVal : v.intVal;
      return true;
    case VT_I8:
      out.kind = K::Signed;
      out.s = byref ? *v.pllVal : v.llVal;
      return true;
    case VT_UI1:
      out.kind = K::Unsigned;
      out.u = byref ? *v.pbVal : v.bVal;
      return true;
    case VT_UI2:
      out.kind = K::Unsigned;
      out.u = byref ? *v.puiVal : v.uiVal;
      return true;
    case VT_UI4:
      out.kind = K::Unsigned;
      out.u = byref ? *v.pulVal : v.ulVal;
      return true;
    case VT_UINT:
      out.kind = K::Unsigned;
      out.u = byref ? *v.puintVal : v.uintVal;
      return true;
    case VT_UI8:
      out.kind = K::Unsigned;
      out.u = byref ? *v.pullVal : v.ullVal;
      return true;
    case VT_R4:
      out.kind = K::Real;
      out.real = byref ? *v.pfltVal : v.fltVal;
      out.realIsSingle = true;
      return true;
    case VT_R8:
      out.kind = K::Real;
      out.real = byref ? *v.pdblVal : v.dblVal;
      return true;
    case VT_BOOL:
      out.kind = K::Boolean;
      out.boolean = (byref ? *v.pboolVal : v.boolVal) != VARIANT_FALSE;
      return true;
    case VT_BSTR:
      out.kind = K::Text;
      out.text = byref ? *v.pbstrVal : v.bstrVal;
      return true;
    default:
      return false;
  }
}

// ---- text to number ----

bool IsBlank(OLECHAR c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

// The text without surrounding blanks, narrowed; false if it holds anything but ASCII.
bool Narrow(BSTR text, std::string& out) {
  const OLECHAR* begin = text;
  const OLECHAR* end = text + SysStringLen(text);
  while (begin != end && IsBlank(*begin))
    ++begin;
  while (end != begin && IsBlank(end[-1]))
    --end;
  out.clear();
  for (const OLECHAR* p = begin; p != end; ++p) {
    if (*p <= 0 || *p > 0x7F)
      return false;
    out.push_back(static_cast<char>(*p));
  }
  return true;
}

enum class Parse { Ok, NotNumber, TooBig };

// A decimal number: optional sign, digits with an optional fraction, optional exponent.
// Integers that fit 64 bits come back exact in `magnitude`; anything else as `real`.
struct Number {
  bool negative = false;
  bool exact = false;
  uint64_t magnitude = 0;
  double real = 0;
};

Parse ParseNumber(BSTR text, Number& n) {
  std::string s;
  if (text == nullptr || !Narrow(text, s))
    return Parse::NotNumber;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-'))
    n.negative = s[i++] == '-';
  const size_t digitsStart = i;
  size_t mantissaDigits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i, ++mantissaDigits;
  const size_t integerEnd = i;
  bool fractional = false;
  if (i < s.size() && s[i] == '.') {
    fractional = true;
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0)
    return Parse::NotNumber;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    fractional = true;
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
      ++i;
    const size_t expStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i;
    if (i == expStart)
      return Parse::NotNumber;
  }
  if (i != s.size())
    return Parse::NotNumber;

  if (!fractional) {
    const auto [end, ec] = std::from_chars(s.data() + digitsStart, s.data() + integerEnd, n.magnitude);
    if (ec == std::errc{} && end == s.data() + integerEnd) {
      n.exact = true;
      return Parse::Ok;
    }
  }
  // from_chars takes no leading '+'.
  const char* first = s.data() + digitsStart;
  const auto [end, ec] = std::from_chars(first, s.data() + s.size(), n.real);
  if (ec == std::errc::result_out_of_range)
    return Parse::TooBig;
  if (ec != std::errc{} || end != s.data() + s.size())
    return Parse::NotNumber;
  if (n.negative)
    n.real = -n.real;
  return Parse::Ok;
}

// ---- numbers to numbers ----

struct IntegerRange {
  bool isSigned;
  int64_t min;
  uint64_t max;
};

bool IntegerTarget(VARTYPE vt, IntegerRange& r) {
  switch (vt) {
    case VT_I2:
      r = {true, INT16_MIN, INT16_MAX};
      return true;
    case VT_I4:
      r = {true, INT32_MIN, INT32_MAX};
      return true;
    case VT_UI1:
      r = {false, 0, UINT8_MAX};
      return true;
    default:
      return false;
  }
}

// Halves go to the even neighbour, as Automation rounds.
double RoundHalfEven(double d) {
  const double down = std::floor(d);
  const double fraction = d - down;
  if (fraction > 0.5)
    return down + 1;
  if (fraction < 0.5)
    return down;
  return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

// An integer as a sign and magnitude, so that every 64-bit value of either signedness fits.
struct Integer {
  bool negative;
  uint64_t magnitude;
};

HRESULT IntegerFromReal(double d, Integer& out) {
  if (std::isnan(d))
    return DISP_E_OVERFLOW;
  const double r = RoundHalfEven(d);
  constexpr double kTwo64 = 18446744073709551616.0;
  if (!(std::fabs(r) < kTwo64))
    return DISP_E_OVERFLOW;
  out.negative = r < 0;
  out.magnitude = static_cast<uint64_t>(std::fabs(r));
  return S_OK;
}

HRESULT FitInteger(const Integer& v, const IntegerRange& range, VARTYPE vt, VARIANT& dest) {
  if (v.negative && v.magnitude != 0) {
    if (!range.isSigned)
      return DISP_E_OVERFLOW;
    // |min| of a signed range is max + 1.
    if (v.magnitude > static_cast<uint64_t>(range.max) + 1)
      return DISP_E_OVERFLOW;
  } else if (v.magnitude > range.max) {
    return DISP_E_OVERFLOW;
  }
  const uint64_t bits = v.negative ? ~v.magnitude + 1 : v.magnitude;  // two's complement
  dest.vt = vt;
  if (vt == VT_UI1)
    dest.bVal = static_cast<BYTE>(bits);
  else if (vt == VT_I2)
    dest.iVal = static_cast<SHORT>(bits);
  else
    dest.lVal = static_cast<LONG>(bits);
  return S_OK;
}

HRESULT ToInteger(const Value& v, VARTYPE vt, const IntegerRange& range, VARIANT& dest) {
  using K = Value::Kind;
  Integer i{false, 0};
  switch (v.kind) {
    case K::Empty:
      break;
    case K::Signed:
      i = {v.s < 0, v.s < 0 ? ~static_cast<uint64_t>(v.s) + 1 : static_cast<uint64_t>(v.s)};
      break;
    case K::Unsigned:
      i.magnitude = v.u;
      break;
    case K::Real: {
      const HRESULT hr = IntegerFromReal(v.real, i);
      if (FAILED(hr))
        return hr;
      break;
    }
    case K::Boolean:
      // True is -1, which unsigned targets take as all bits set.
      if (v.boolean) {
        if (range.isSigned) {
          i = {true, 1};
        } else {
          i.magnitude = range.max;
        }
      }
      break;
    case K::Text: {
      Number n;
      const Parse p = ParseNumber(v.text, n);
      if (p == Parse::NotNumber)
        return DISP_E_TYPEMISMATCH;
      if (p == Parse::TooBig)
        return DISP_E_OVERFLOW;
      if (n.exact) {
        i = {n.negative, n.magnitude};
      } else {
        const HRESULT hr = IntegerFromReal(n.real, i);
        if (FAILED(hr))
          return hr;
      }
      break;
    }
  }
  return FitInteger(i, range, vt, dest);
}

HRESULT ToReal(const Value& v, VARTYPE vt, VARIANT& dest) {
  using K = Value::Kind;
  double d = 0;
  switch (v.kind) {
    case K::Empty:
      break;
    case K::Signed:
      d = static_cast<double>(v.s);
      break;
    case K::Unsigned:
      d = static_cast<double>(v.u);
      break;
    case K::Real:
      d = v.real;
      break;
    case K::Boolean:
      d = v.boolean ? -1.0 : 0.0;
      break;
    case K::Text: {
      Number n;
      const Parse p = ParseNumber(v.text, n);
      if (p == Parse::NotNumber)
        return DISP_E_TYPEMISMATCH;
      if (p == Parse::TooBig)
        return DISP_E_OVERFLOW;
      d = n.exact ? static_cast<double>(n.magnitude) : n.real;
      if (n.exact && n.negative)
        d = -d;
      break;
    }
  }
  dest.vt = vt;
  if (vt == VT_R4) {
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
      return DISP_E_OVERFLOW;
    dest.fltVal = static_cast<float>(d);
  } else {
    dest.dblVal = d;
  }
  return S_OK;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

HRESULT ToBool(const Value& v, VARIANT& dest) {
  using K = Value::Kind;
  bool b = false;
  switch (v.kind) {
    case K::Empty:
      break;
    case K::Signed:
      b = v.s != 0;
      break;
    case K::Unsigned:
      b = v.u != 0;
      break;
    case K::Real:
      b = v.real != 0;
      break;
    case K::Boolean:
      b = v.boolean;
      break;
    case K::Text: {
      std::string s;
      if (v.text != nullptr && Narrow(v.text, s) && (EqualsIgnoringCase(s, "true") || EqualsIgnoringCase(s, "false"))) {
        b = EqualsIgnoringCase(s, "true");
        break;
      }
      Number n;
      const Parse p = ParseNumber(v.text, n);
      if (p == Parse::NotNumber)
        return DISP_E_TYPEMISMATCH;
      b = p == Parse::TooBig || (n.exact ? n.magnitude != 0 : n.real != 0);
      break;
    }
  }
  dest.vt = VT_BOOL;
  dest.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// ---- values to text ----

std::string RealText(double d, bool single) {
  if (std::isnan(d))
    return "NaN";
  if (std::isinf(d))
    return d < 0 ? "-1.#INF" : "1.#INF";
  // The significant digits a VT_R4 and a VT_R8 carry.
  char buffer[64];
  const auto [end, ec] =
      single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(d), std::chars_format::general, 7)
             : std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, 15);
  std::string s(buffer, ec == std::errc{} ? end : buffer);
  for (char& c : s)
    if (c == 'e')
      c = 'E';
  return s;
}

HRESULT ToText(const Value& v, VARIANT& dest) {
  using K = Value::Kind;
  BSTR out = nullptr;
  if (v.kind == K::Text) {
    out = SysAllocStringLen(v.text, SysStringLen(v.text));
  } else {
    std::string s;
    switch (v.kind) {
      case K::Empty:
        break;
      case K::Signed:
        s = std::to_string(v.s);
        break;
      case K::Unsigned:
        s = std::to_string(v.u);
        break;
      case K::Real:
        s = RealText(v.real, v.realIsSingle);
        break;
      case K::Boolean:
        s = v.boolean ? "-1" : "0";
        break;
      case K::Text:
        break;
    }
    out = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
    if (out != nullptr)
      for (size_t i = 0; i < s.size(); ++i)
        out[i] = static_cast<OLECHAR>(s[i]);
  }
  if (out == nullptr)
    return E_OUTOFMEMORY;
  dest.vt = VT_BSTR;
  dest.bstrVal = out;
  return S_OK;
}

HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT& dest) {
  if ((src.vt & ~VT_BYREF) == VT_NULL || vt == VT_NULL)
    return DISP_E_TYPEMISMATCH;
  Value v;
  if (!Read(src, v))
    return DISP_E_TYPEMISMATCH;
  if (vt == VT_EMPTY) {
    dest.vt = VT_EMPTY;
    return S_OK;
  }
  IntegerRange range{};
  if (IntegerTarget(vt, range))
    return ToInteger(v, vt, range, dest);
  switch (vt) {
    case VT_R4:
    case VT_R8:
      return ToReal(v, vt, dest);
    case VT_BOOL:
      return ToBool(v, dest);
    case VT_BSTR:
      return ToText(v, dest);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

// No caller passes flags: VARIANT_ALPHABOOL and the others are not implemented.
HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT /*wFlags*/, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr)
    return E_INVALIDARG;
  if (!winapi::detail::IsValidVariantType(pvarSrc->vt) || !winapi::detail::IsValidVariantType(vt))
    return DISP_E_BADVARTYPE;
  if (pvarSrc->vt == vt)
    return VariantCopy(pvargDest, pvarSrc);

  VARIANT result;
  VariantInit(&result);
  HRESULT hr = Convert(*pvarSrc, vt, result);
  if (FAILED(hr))
    return hr;
  // The source is read completely by now, so converting in place may release it.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}
