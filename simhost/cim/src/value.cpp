#include "simhost/cim/value.hpp"

#include "simhost/cim/path.hpp"
#include "simhost/cim/text.hpp"

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <stdexcept>

namespace simhost::cim {
namespace {

struct TypeInfo {
  CimType type;
  std::wstring_view name;
};

constexpr TypeInfo kTypes[] = {
    {CimType::String, L"string"},     {CimType::Boolean, L"boolean"}, {CimType::UInt8, L"uint8"},
    {CimType::SInt8, L"sint8"},       {CimType::UInt16, L"uint16"},   {CimType::SInt16, L"sint16"},
    {CimType::UInt32, L"uint32"},     {CimType::SInt32, L"sint32"},   {CimType::UInt64, L"uint64"},
    {CimType::SInt64, L"sint64"},     {CimType::Real32, L"real32"},   {CimType::Real64, L"real64"},
    {CimType::DateTime, L"datetime"}, {CimType::Reference, L"ref"},   {CimType::Char16, L"char16"},
};

// Storage index in Scalar for each type.
std::size_t storage_of(CimType t) noexcept {
  if (t == CimType::Boolean)
    return 0;
  if (is_integer(t))
    return is_signed(t) ? 1 : 2;
  if (t == CimType::Char16)
    return 2;
  if (is_real(t))
    return 3;
  return 4;
}

struct Range {
  long double lo;
  long double hi;
};

Range range_of(CimType t) noexcept {
  switch (t) {
    case CimType::UInt8:
      return {0, 255};
    case CimType::SInt8:
      return {-128, 127};
    case CimType::UInt16:
      return {0, 65535};
    case CimType::Char16:
      return {0, 65535};
    case CimType::SInt16:
      return {-32768, 32767};
    case CimType::UInt32:
      return {0, 4294967295.0L};
    case CimType::SInt32:
      return {-2147483648.0L, 2147483647};
    default:
      return {0, 0};
  }
}

// An integer held as sign + magnitude so int64 and uint64 sources compare exactly.
struct Int {
  bool negative;
  std::uint64_t magnitude;
};

std::optional<Int> as_integer(const Scalar& s) {
  if (auto p = std::get_if<std::int64_t>(&s)) {
    if (*p < 0)
      return Int{true, static_cast<std::uint64_t>(-(*p + 1)) + 1};
    return Int{false, static_cast<std::uint64_t>(*p)};
  }
  if (auto p = std::get_if<std::uint64_t>(&s))
    return Int{false, *p};
  return std::nullopt;
}

// Decimal with optional sign, or 0x hex. Whole text must be consumed.
std::optional<Int> parse_integer(std::wstring_view t, bool& overflow) {
  overflow = false;
  bool neg = false;
  std::size_t i = 0;
  if (i < t.size() && (t[i] == L'-' || t[i] == L'+'))
    neg = t[i++] == L'-';
  unsigned base = 10;
  if (t.size() - i > 2 && t[i] == L'0' && (t[i + 1] == L'x' || t[i + 1] == L'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size())
    return std::nullopt;
  std::uint64_t v = 0;
  for (; i < t.size(); ++i) {
    unsigned d;
    const wchar_t c = t[i];
    if (c >= L'0' && c <= L'9')
      d = static_cast<unsigned>(c - L'0');
    else if (base == 16 && c >= L'a' && c <= L'f')
      d = static_cast<unsigned>(c - L'a' + 10);
    else if (base == 16 && c >= L'A' && c <= L'F')
      d = static_cast<unsigned>(c - L'A' + 10);
    else
      return std::nullopt;
    if (v > (std::numeric_limits<std::uint64_t>::max() - d) / base)
      overflow = true;
    else
      v = v * base + d;
  }
  return Int{neg && v != 0, v};
}

std::optional<double> parse_real(std::wstring_view t) {
  if (t.empty() || t.size() > 64)
    return std::nullopt;
  for (wchar_t c : t)
    if (!((c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'+' || c == L'e' || c == L'E'))
      return std::nullopt;
  const std::wstring buf(t);
  wchar_t* end = nullptr;
  const double d = std::wcstod(buf.c_str(), &end);
  if (end != buf.c_str() + buf.size())
    return std::nullopt;
  return d;
}

Conversion integer_into(Int v, CimType target, Scalar& out) {
  if (target == CimType::UInt64) {
    if (v.negative)
      return Conversion::out_of_range;
    out = v.magnitude;
    return Conversion::ok;
  }
  if (target == CimType::SInt64) {
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!v.negative && v.magnitude > max)
      return Conversion::out_of_range;
    if (v.negative && v.magnitude > max + 1)
      return Conversion::out_of_range;
    out = v.negative ? static_cast<std::int64_t>(-static_cast<std::int64_t>(v.magnitude - 1) - 1)
                     : static_cast<std::int64_t>(v.magnitude);
    return Conversion::ok;
  }
  const Range r = range_of(target);
  const long double x = v.negative ? -static_cast<long double>(v.magnitude) : static_cast<long double>(v.magnitude);
  if (x < r.lo || x > r.hi)
    return Conversion::out_of_range;
  if (storage_of(target) == 1)
    out = static_cast<std::int64_t>(x);
  else
    out = static_cast<std::uint64_t>(x);
  return Conversion::ok;
}

Conversion scalar_into(const Scalar& in, CimType target, Scalar& out) {
  const auto integer = as_integer(in);
  const auto* text = std::get_if<std::wstring>(&in);

  if (is_integer(target) || target == CimType::Char16) {
    if (integer)
      return integer_into(*integer, target, out);
    if (auto d = std::get_if<double>(&in)) {
      if (!std::isfinite(*d) || std::trunc(*d) != *d)
        return Conversion::type_mismatch;
      if (*d < -9.3e18 || *d > 1.8e19)
        return Conversion::out_of_range;
      return integer_into(Int{*d < 0, static_cast<std::uint64_t>(std::fabs(*d))}, target, out);
    }
    if (text) {
      if (target == CimType::Char16 && text->size() == 1) {
        out = static_cast<std::uint64_t>((*text)[0]);
        return Conversion::ok;
      }
      bool overflow = false;
      auto parsed = parse_integer(*text, overflow);
      if (!parsed)
        return Conversion::type_mismatch;
      if (overflow)
        return Conversion::out_of_range;
      return integer_into(*parsed, target, out);
    }
    return Conversion::type_mismatch;  // booleans do not become numbers
  }

  if (is_real(target)) {
    double d;
    if (integer)
      d = integer->negative ? -static_cast<double>(integer->magnitude) : static_cast<double>(integer->magnitude);
    else if (auto p = std::get_if<double>(&in))
      d = *p;
    else if (text) {
      auto parsed = parse_real(*text);
      if (!parsed)
        return Conversion::type_mismatch;
      d = *parsed;
    } else
      return Conversion::type_mismatch;
    if (target == CimType::Real32 && std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
      return Conversion::out_of_range;
    out = target == CimType::Real32 ? static_cast<double>(static_cast<float>(d)) : d;
    return Conversion::ok;
  }

  if (target == CimType::Boolean) {
    if (auto b = std::get_if<bool>(&in)) {
      out = *b;
      return Conversion::ok;
    }
    if (integer) {
      out = integer->magnitude != 0;
      return Conversion::ok;
    }
    if (text && (iequals(*text, L"true") || iequals(*text, L"false"))) {
      out = iequals(*text, L"true");
      return Conversion::ok;
    }
    return Conversion::type_mismatch;
  }

  // Textual targets.
  std::wstring s = text ? *text : scalar_text(in);
  if (target == CimType::DateTime && !is_dmtf_datetime(s))
    return Conversion::type_mismatch;
  if (target == CimType::Reference && !ObjectPath::parse(s))
    return Conversion::type_mismatch;
  if (target != CimType::String && !text)
    return Conversion::type_mismatch;
  out = std::move(s);
  return Conversion::ok;
}

}  // namespace

std::wstring_view type_name(CimType t) noexcept {
  for (const auto& info : kTypes)
    if (info.type == t)
      return info.name;
  return L"?";
}

std::optional<CimType> type_from_name(std::wstring_view name) noexcept {
  for (const auto& info : kTypes)
    if (iequals(info.name, name))
      return info.type;
  if (iequals(name, L"reference"))
    return CimType::Reference;
  return std::nullopt;
}

bool is_integer(CimType t) noexcept {
  switch (t) {
    case CimType::UInt8:
    case CimType::SInt8:
    case CimType::UInt16:
    case CimType::SInt16:
    case CimType::UInt32:
    case CimType::SInt32:
    case CimType::UInt64:
    case CimType::SInt64:
      return true;
    default:
      return false;
  }
}

bool is_signed(CimType t) noexcept {
  return t == CimType::SInt8 || t == CimType::SInt16 || t == CimType::SInt32 || t == CimType::SInt64;
}

bool is_real(CimType t) noexcept {
  return t == CimType::Real32 || t == CimType::Real64;
}

bool is_textual(CimType t) noexcept {
  return t == CimType::String || t == CimType::DateTime || t == CimType::Reference;
}

Value Value::null(CimType t, bool array) {
  Value v;
  v.type_ = t;
  v.array_ = array;
  return v;
}

Value Value::scalar(CimType t, Scalar s) {
  if (s.index() != storage_of(t))
    throw std::invalid_argument("scalar storage does not match its CIM type");
  Value v;
  v.type_ = t;
  v.data_ = std::move(s);
  return v;
}

Value Value::array(CimType t, std::vector<Scalar> items) {
  for (const auto& s : items)
    if (s.index() != storage_of(t))
      throw std::invalid_argument("array element storage does not match its CIM type");
  Value v;
  v.type_ = t;
  v.array_ = true;
  v.data_ = std::move(items);
  return v;
}

Value Value::string_array(std::vector<std::wstring> items) {
  std::vector<Scalar> out;
  out.reserve(items.size());
  for (auto& s : items)
    out.emplace_back(std::move(s));
  return array(CimType::String, std::move(out));
}

Value Value::string(std::wstring s) {
  return scalar(CimType::String, std::move(s));
}
Value Value::boolean(bool b) {
  return scalar(CimType::Boolean, b);
}
Value Value::uint8(std::uint8_t v) {
  return scalar(CimType::UInt8, std::uint64_t{v});
}
Value Value::sint8(std::int8_t v) {
  return scalar(CimType::SInt8, std::int64_t{v});
}
Value Value::uint16(std::uint16_t v) {
  return scalar(CimType::UInt16, std::uint64_t{v});
}
Value Value::sint16(std::int16_t v) {
  return scalar(CimType::SInt16, std::int64_t{v});
}
Value Value::uint32(std::uint32_t v) {
  return scalar(CimType::UInt32, std::uint64_t{v});
}
Value Value::sint32(std::int32_t v) {
  return scalar(CimType::SInt32, std::int64_t{v});
}
Value Value::uint64(std::uint64_t v) {
  return scalar(CimType::UInt64, v);
}
Value Value::sint64(std::int64_t v) {
  return scalar(CimType::SInt64, v);
}
Value Value::real32(float v) {
  return scalar(CimType::Real32, static_cast<double>(v));
}
Value Value::real64(double v) {
  return scalar(CimType::Real64, v);
}
Value Value::datetime(std::wstring dmtf) {
  return scalar(CimType::DateTime, std::move(dmtf));
}
Value Value::reference(std::wstring path) {
  return scalar(CimType::Reference, std::move(path));
}
Value Value::char16(char16_t c) {
  return scalar(CimType::Char16, std::uint64_t{c});
}

const Scalar& Value::get() const {
  if (auto p = std::get_if<Scalar>(&data_))
    return *p;
  throw std::logic_error("value is null or an array");
}

const std::vector<Scalar>& Value::items() const {
  if (auto p = std::get_if<std::vector<Scalar>>(&data_))
    return *p;
  throw std::logic_error("value is null or not an array");
}

const std::wstring* Value::as_string() const noexcept {
  auto p = std::get_if<Scalar>(&data_);
  return p ? std::get_if<std::wstring>(p) : nullptr;
}

std::optional<bool> Value::as_bool() const noexcept {
  auto p = std::get_if<Scalar>(&data_);
  if (p)
    if (auto b = std::get_if<bool>(p))
      return *b;
  return std::nullopt;
}

std::optional<std::int64_t> Value::as_int() const noexcept {
  auto p = std::get_if<Scalar>(&data_);
  if (!p)
    return std::nullopt;
  if (auto i = std::get_if<std::int64_t>(p))
    return *i;
  if (auto u = std::get_if<std::uint64_t>(p);
      u && *u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return static_cast<std::int64_t>(*u);
  return std::nullopt;
}

std::optional<std::uint64_t> Value::as_uint() const noexcept {
  auto p = std::get_if<Scalar>(&data_);
  if (!p)
    return std::nullopt;
  if (auto u = std::get_if<std::uint64_t>(p))
    return *u;
  if (auto i = std::get_if<std::int64_t>(p); i && *i >= 0)
    return static_cast<std::uint64_t>(*i);
  return std::nullopt;
}

std::optional<double> Value::as_real() const noexcept {
  auto p = std::get_if<Scalar>(&data_);
  if (!p)
    return std::nullopt;
  if (auto d = std::get_if<double>(p))
    return *d;
  if (auto i = std::get_if<std::int64_t>(p))
    return static_cast<double>(*i);
  if (auto u = std::get_if<std::uint64_t>(p))
    return static_cast<double>(*u);
  return std::nullopt;
}

Conversion convert(const Value& in, CimType target, bool array, Value& out) {
  if (in.is_null()) {
    out = Value::null(target, array);
    return Conversion::ok;
  }
  if (in.is_array() != array)
    return Conversion::type_mismatch;
  if (!array) {
    Scalar s;
    const Conversion c = scalar_into(in.get(), target, s);
    if (c == Conversion::ok)
      out = Value::scalar(target, std::move(s));
    return c;
  }
  std::vector<Scalar> items;
  items.reserve(in.items().size());
  for (const auto& e : in.items()) {
    Scalar s;
    const Conversion c = scalar_into(e, target, s);
    if (c != Conversion::ok)
      return c;
    items.push_back(std::move(s));
  }
  out = Value::array(target, std::move(items));
  return Conversion::ok;
}

std::wstring scalar_text(const Scalar& s) {
  struct Visitor {
    std::wstring operator()(bool b) const { return b ? L"TRUE" : L"FALSE"; }
    std::wstring operator()(std::int64_t i) const { return std::to_wstring(i); }
    std::wstring operator()(std::uint64_t u) const { return std::to_wstring(u); }
    std::wstring operator()(double d) const {
      wchar_t buf[64];
      std::swprintf(buf, 64, L"%.17g", d);
      return buf;
    }
    std::wstring operator()(const std::wstring& w) const { return w; }
  };
  return std::visit(Visitor{}, s);
}

std::wstring_view scalar_text(const Scalar& s, std::wstring& scratch) {
  if (const auto* text = std::get_if<std::wstring>(&s))
    return *text;
  scratch = scalar_text(s);
  return scratch;
}

bool is_dmtf_datetime(std::wstring_view t) noexcept {
  if (t.size() != 25 || t[14] != L'.')
    return false;
  const wchar_t sign = t[21];
  if (sign != L'+' && sign != L'-' && sign != L':')
    return false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (i == 14 || i == 21)
      continue;
    const wchar_t c = t[i];
    if (!((c >= L'0' && c <= L'9') || c == L'*'))
      return false;
  }
  if (sign == L':')
    return t.substr(22) == L"000";
  return true;
}

}  // namespace simhost::cim
