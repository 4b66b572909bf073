// CIM values in plain C++: a type, an array flag, and null or data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace simhost::cim {

enum class CimType : std::uint8_t {
  String,
  Boolean,
  UInt8,
  SInt8,
  UInt16,
  SInt16,
  UInt32,
  SInt32,
  UInt64,
  SInt64,
  Real32,
  Real64,
  DateTime,
  Reference,
  Char16,
};

// MOF spelling ("string", "uint16", "ref", ...).
std::wstring_view type_name(CimType t) noexcept;
std::optional<CimType> type_from_name(std::wstring_view name) noexcept;

bool is_integer(CimType t) noexcept;  // the eight integer types (not char16)
bool is_signed(CimType t) noexcept;
bool is_real(CimType t) noexcept;
bool is_textual(CimType t) noexcept;  // string, datetime, reference: stored as text

// Storage: boolean -> bool; sint* -> int64; uint* and char16 -> uint64; real* -> double;
// string, datetime and reference -> wstring.
using Scalar = std::variant<bool, std::int64_t, std::uint64_t, double, std::wstring>;

class Value {
 public:
  Value() = default;  // a null string
  static Value null(CimType t, bool array = false);

  static Value string(std::wstring s);
  static Value boolean(bool b);
  static Value uint8(std::uint8_t v);
  static Value sint8(std::int8_t v);
  static Value uint16(std::uint16_t v);
  static Value sint16(std::int16_t v);
  static Value uint32(std::uint32_t v);
  static Value sint32(std::int32_t v);
  static Value uint64(std::uint64_t v);
  static Value sint64(std::int64_t v);
  static Value real32(float v);
  static Value real64(double v);
  static Value datetime(std::wstring dmtf);
  static Value reference(std::wstring path);
  static Value char16(char16_t c);
  // Scalars must already use the storage kind of t (see Scalar); anything else is a programming
  // error and throws std::invalid_argument. Use convert() for values from outside.
  static Value scalar(CimType t, Scalar s);
  static Value array(CimType t, std::vector<Scalar> items);
  static Value string_array(std::vector<std::wstring> items);

  CimType type() const noexcept { return type_; }
  bool is_array() const noexcept { return array_; }
  bool is_null() const noexcept { return data_.index() == 0; }

  const Scalar& get() const;                 // non-null scalar
  const std::vector<Scalar>& items() const;  // non-null array

  // Typed views; nullopt/nullptr for null, arrays, or a different storage kind.
  const std::wstring* as_string() const noexcept;
  std::optional<bool> as_bool() const noexcept;
  std::optional<std::int64_t> as_int() const noexcept;    // any integer that fits int64
  std::optional<std::uint64_t> as_uint() const noexcept;  // any non-negative integer
  std::optional<double> as_real() const noexcept;         // any number

  bool operator==(const Value&) const = default;

 private:
  CimType type_ = CimType::String;
  bool array_ = false;
  std::variant<std::monostate, Scalar, std::vector<Scalar>> data_;
};

enum class Conversion : std::uint8_t {
  ok,
  type_mismatch,  // the value cannot represent the target type at all
  out_of_range,   // a number that does not fit the target type
};

// Converts as WMI does when a property is written: a numeric string into an integer, any integer
// into any other integer that holds it, an integer into a boolean (non-zero is true), numbers and
// booleans into text, text into datetime or reference when it is well formed. Null converts to a
// null of the target type. A scalar never converts into an array or back. `out` is only written on
// success.
Conversion convert(const Value& in, CimType target, bool array, Value& out);

// Text of a scalar as WMI renders it: decimal numbers, TRUE/FALSE, text as is.
std::wstring scalar_text(const Scalar& s);
// The same text without a copy when the scalar is text; other kinds are rendered into `scratch`.
std::wstring_view scalar_text(const Scalar& s, std::wstring& scratch);

// DMTF datetime: yyyymmddHHMMSS.mmmmmmsUUU (s is + or -) or the interval form
// ddddddddHHMMSS.mmmmmm:000; '*' stands for an unused digit.
bool is_dmtf_datetime(std::wstring_view text) noexcept;

}  // namespace simhost::cim
