#include "simhost/cim/schema.hpp"
#include "simhost/cim/value.hpp"

#include <gtest/gtest.h>

namespace simhost::cim {
namespace {

// Put's conversions: a row's value into a property of the target type, or the refusal, which
// leaves the output alone.
TEST(ConvertTest, ConvertsAsPutDoes) {
  const struct {
    const char* label;
    Value in;
    CimType target;
    bool array;
    Conversion expected;
    Value out;  // checked when expected == ok
  } cases[] = {
      {"text_to_uint16", Value::string(L"2"), CimType::UInt16, false, Conversion::ok, Value::uint16(2)},
      {"hex_text", Value::string(L"0x1F"), CimType::UInt32, false, Conversion::ok, Value::uint32(31)},
      {"text_not_number", Value::string(L"2a"), CimType::UInt16, false, Conversion::type_mismatch, {}},
      {"empty_text", Value::string(L""), CimType::SInt32, false, Conversion::type_mismatch, {}},
      {"text_too_big", Value::string(L"65536"), CimType::UInt16, false, Conversion::out_of_range, {}},
      {"over_max_u64", Value::string(L"18446744073709551616"), CimType::UInt64, false, Conversion::out_of_range, {}},
      {"max_u64", Value::string(L"18446744073709551615"), CimType::UInt64, false, Conversion::ok,
       Value::uint64(18446744073709551615ULL)},
      {"negative_into_unsigned", Value::sint32(-1), CimType::UInt32, false, Conversion::out_of_range, {}},
      {"sint16_into_uint32", Value::sint16(7), CimType::UInt32, false, Conversion::ok, Value::uint32(7)},
      {"min_sint64", Value::string(L"-9223372036854775808"), CimType::SInt64, false, Conversion::ok,
       Value::sint64(INT64_MIN)},
      {"sint8_low_edge", Value::sint32(-129), CimType::SInt8, false, Conversion::out_of_range, {}},
      {"integer_into_text", Value::uint64(1500), CimType::String, false, Conversion::ok, Value::string(L"1500")},
      {"bool_into_text", Value::boolean(true), CimType::String, false, Conversion::ok, Value::string(L"TRUE")},
      {"integer_into_bool", Value::sint32(5), CimType::Boolean, false, Conversion::ok, Value::boolean(true)},
      {"text_into_bool", Value::string(L"False"), CimType::Boolean, false, Conversion::ok, Value::boolean(false)},
      {"bool_into_integer", Value::boolean(true), CimType::UInt16, false, Conversion::type_mismatch, {}},
      {"whole_real_into_int", Value::real64(3.0), CimType::UInt8, false, Conversion::ok, Value::uint8(3)},
      {"fraction_into_int", Value::real64(3.5), CimType::UInt8, false, Conversion::type_mismatch, {}},
      {"text_into_real", Value::string(L"2.5"), CimType::Real64, false, Conversion::ok, Value::real64(2.5)},
      {"huge_into_real32", Value::real64(1e300), CimType::Real32, false, Conversion::out_of_range, {}},
      {"datetime_ok", Value::string(L"20240131235959.000000-480"), CimType::DateTime, false, Conversion::ok,
       Value::datetime(L"20240131235959.000000-480")},
      {"interval_ok", Value::string(L"00000000000500.000000:000"), CimType::DateTime, false, Conversion::ok,
       Value::datetime(L"00000000000500.000000:000")},
      {"datetime_bad", Value::string(L"2024-01-31"), CimType::DateTime, false, Conversion::type_mismatch, {}},
      {"reference_ok", Value::string(L"Msvm_ConcreteJob.InstanceID=\"X\""), CimType::Reference, false, Conversion::ok,
       Value::reference(L"Msvm_ConcreteJob.InstanceID=\"X\"")},
      {"reference_bad", Value::string(L"not a path"), CimType::Reference, false, Conversion::type_mismatch, {}},
      {"char16_from_text", Value::string(L"A"), CimType::Char16, false, Conversion::ok, Value::char16(u'A')},
      {"null_keeps_target_type", Value::null(CimType::String), CimType::UInt16, true, Conversion::ok,
       Value::null(CimType::UInt16, true)},
      {"array_elementwise", Value::string_array({L"1", L"2"}), CimType::UInt16, true, Conversion::ok,
       Value::array(CimType::UInt16, {std::uint64_t{1}, std::uint64_t{2}})},
      {"array_bad_element", Value::string_array({L"1", L"x"}), CimType::UInt16, true, Conversion::type_mismatch, {}},
      {"scalar_into_array", Value::string(L"1"), CimType::String, true, Conversion::type_mismatch, {}},
      {"array_into_scalar", Value::string_array({L"1"}), CimType::String, false, Conversion::type_mismatch, {}},
  };
  for (const auto& c : cases) {
    Value out = Value::string(L"untouched");
    EXPECT_EQ(convert(c.in, c.target, c.array, out), c.expected) << c.label;
    EXPECT_EQ(out, c.expected == Conversion::ok ? c.out : Value::string(L"untouched")) << c.label;
  }
}

TEST(ValueTest, StorageMustMatchTheType) {
  EXPECT_THROW(Value::scalar(CimType::UInt16, std::wstring(L"1")), std::invalid_argument);
  EXPECT_THROW(Value::array(CimType::String, {true}), std::invalid_argument);
  EXPECT_EQ(Value::uint32(4000000000U).as_int(), 4000000000LL);
  EXPECT_FALSE(Value::sint8(-1).as_uint().has_value());
  for (CimType t : {CimType::String, CimType::Boolean, CimType::SInt8, CimType::Real32, CimType::Reference})
    EXPECT_EQ(type_from_name(type_name(t)), t);
}

// A class under the wrong parent breaks the default host, and the subclass queries of the
// repository and WQL tests; Msvm_SwitchPort's keys are in every golden path, and the property types
// in what Get reports. Here: what an association is, and that an inherited property keeps the
// slot it has in the parent, so that an index taken from a parent holds in a subclass.
TEST(SchemaTest, AssociationsAndInheritedSlots) {
  const Schema& s = virtualization_schema();
  EXPECT_TRUE(s.find(L"Msvm_HostedAccessPoint")->is_association());
  EXPECT_FALSE(s.find(L"Msvm_SwitchPort")->is_association());
  EXPECT_EQ(s.find(L"CIM_LANEndpoint")->property_index(L"Name"),
            s.find(L"Msvm_VmLANEndpoint")->property_index(L"Name"));
}

// The parameter names are the provider conformance rows'. The types the library relies on, and
// finding a method in any case and through the class's ancestors, fail the library tests when
// wrong; what no library call shows is the type of a parameter it leaves out, and that another
// class has no such method.
TEST(SchemaTest, MethodSignatures) {
  const Schema& s = virtualization_schema();
  const MethodDecl* rsc = s.find(L"Msvm_ComputerSystem")->method(L"RequestStateChange");
  ASSERT_NE(rsc, nullptr);
  EXPECT_EQ(rsc->in[1].type.type, CimType::DateTime);
  EXPECT_EQ(s.find(L"Msvm_SwitchPort")->method(L"InitiateShutdown"), nullptr);
}

TEST(SchemaTest, RejectsInconsistentDeclarations) {
  Schema s;
  s.add({L"Base", L"", {{L"A", {CimType::UInt16, false, {}}, true, {}}}});
  EXPECT_THROW(s.add({L"base", L""}), SchemaError);
  EXPECT_THROW(s.add({L"Child", L"Missing"}), SchemaError);
  EXPECT_THROW(s.add({L"Child", L"Base", {{L"a", {CimType::String, false, {}}, false, {}}}}), SchemaError);
}

}  // namespace
}  // namespace simhost::cim
