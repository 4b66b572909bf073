#include "simhost/wql/parser.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace simhost::wql {
namespace {

// Renders a condition as a prefix expression so that tests can state the tree in one line.
std::wstring render(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::and_:
      return L"(and " + render(*e.left) + L" " + render(*e.right) + L")";
    case Expr::Kind::or_:
      return L"(or " + render(*e.left) + L" " + render(*e.right) + L")";
    case Expr::Kind::not_:
      return L"(not " + render(*e.left) + L")";
    case Expr::Kind::compare:
      break;
  }
  static const wchar_t* ops[] = {L"=", L"<>", L"<", L">", L"<=", L">=", L" like ", L" is null", L" is not null"};
  const auto& c = e.compare;
  std::wstring out = c.property + ops[static_cast<int>(c.op)];
  if (c.op != CompareOp::is_null && c.op != CompareOp::is_not_null) {
    const auto& v = c.literal;
    out += v.as_string() ? L"'" + *v.as_string() + L"'" : cim::scalar_text(v.get());
  }
  return out;
}

TEST(WhereTest, BuildsTheExpectedTree) {
  const struct {
    const wchar_t* where;
    const wchar_t* tree;
  } cases[] = {
      {L"a=1 or b=2 and c=3", L"(or a=1 (and b=2 c=3))"},
      {L"(a=1 OR b=2) AND c=3", L"(and (or a=1 b=2) c=3)"},
      {L"not a=1 and b=2", L"(and (not a=1) b=2)"},
      {L"NOT (a=1 and b=2) or not not c=3", L"(or (not (and a=1 b=2)) (not (not c=3)))"},
      {L"a<>1 and b!=2 and c<=-3 and d>=0x1F", L"(and (and (and a<>1 b<>2) c<=-3) d>=31)"},
      {L"5 < a and 'x' = b", L"(and a>5 b='x')"},
      {L"a = 'it\\'s' and b = \"say \\\"hi\\\"\"", L"(and a='it's' b='say \"hi\"')"},
      {L"a = 'c:\\\\dir\\\\file'", L"a='c:\\dir\\file'"},
      {L"a = \"single ' inside\"", L"a='single ' inside'"},
      {L"a LIKE '%x_[a-c]'", L"a like '%x_[a-c]'"},
      {L"a is null or b IS NOT NULL", L"(or a is null b is not null)"},
      {L"a = NULL and b <> null", L"(and a is null b is not null)"},
      {L"a = TRUE and b = false and c = 2.5", L"(and (and a=TRUE b=FALSE) c=2.5)"},
      {L"a = 18446744073709551615", L"a=18446744073709551615"},
  };
  for (const auto& c : cases) {
    auto q = parse(std::wstring(L"select * from C where ") + c.where);
    ASSERT_TRUE(q) << cim::narrow(q.error().message);
    EXPECT_EQ(cim::narrow(render(*std::get<SelectQuery>(q.value()).where)), cim::narrow(c.tree));
  }
}

struct RefusalCase {
  const wchar_t* query;
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, IsAnInvalidQuery) {
  auto q = parse(GetParam().query);
  ASSERT_FALSE(q) << cim::narrow(GetParam().query);
  EXPECT_EQ(q.error().code, ErrorCode::invalid_query);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, RefusalTest,
    ::testing::Values(
        RefusalCase{L""}, RefusalCase{L"   "}, RefusalCase{L"SELECT"}, RefusalCase{L"SELECT * FROM"},
        RefusalCase{L"SELECT * Msvm_ComputerSystem"}, RefusalCase{L"SELECT * FROM Msvm_ComputerSystem'"},
        RefusalCase{L"SELECT * FROM Msvm_Computer'System'"}, RefusalCase{L"SELECT * FROM \"Msvm_ComputerSystem\""},
        RefusalCase{L"SELECT * FROM C WHERE Name = 'open"}, RefusalCase{L"SELECT * FROM C WHERE"},
        RefusalCase{L"SELECT * FROM C WHERE (a=1"}, RefusalCase{L"SELECT * FROM C WHERE a=1)"},
        RefusalCase{L"SELECT * FROM C WHERE a"}, RefusalCase{L"SELECT * FROM C WHERE a = b"},
        RefusalCase{L"SELECT * FROM C WHERE 1 = 2"}, RefusalCase{L"SELECT * FROM C WHERE a < NULL"},
        RefusalCase{L"SELECT * FROM C WHERE a LIKE 5"}, RefusalCase{L"SELECT * FROM C WHERE a NOT LIKE 'x'"},
        RefusalCase{L"SELECT * FROM C WHERE a = 'c:\\dir'"}, RefusalCase{L"SELECT * FROM C WHERE a = 'x\\'"},
        RefusalCase{L"SELECT * FROM C WHERE a ! 1"}, RefusalCase{L"SELECT * FROM C WHERE a = 1abc"},
        RefusalCase{L"SELECT * FROM C WHERE a.b = 1"}, RefusalCase{L"SELECT * FROM C WHERE __CLASS ISA 'C'"},
        RefusalCase{L"SELECT * FROM C GROUP WITHIN 10 BY a"}, RefusalCase{L"SELECT * FROM C HAVING a = 1"},
        RefusalCase{L"SELECT * FROM C ORDER BY a"}, RefusalCase{L"SELECT * FROM C extra"},
        RefusalCase{L"SELECT COUNT(*) FROM C"}, RefusalCase{L"SELECT *, a FROM C"}, RefusalCase{L"SELECT a, FROM C"},
        RefusalCase{L"DELETE FROM C"}, RefusalCase{L"ASSOCIATORS {C.K=1}"}, RefusalCase{L"ASSOCIATORS OF C.K=1"},
        RefusalCase{L"ASSOCIATORS OF {C.K=\"1\""}, RefusalCase{L"ASSOCIATORS OF {C.K=\"}\""},
        RefusalCase{L"ASSOCIATORS OF {}"}, RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE ResultClass"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE ResultClass='X'"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE ResultClass=X ResultClass=Y"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE Colour=X"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE ClassDefsOnly"},
        RefusalCase{L"ASSOCIATORS OF {C.K=1} WHERE SchemaOnly"}, RefusalCase{L"ASSOCIATORS OF {C.K=1} trailing"},
        RefusalCase{L"REFERENCES OF {C.K=1} WHERE AssocClass=X"},
        RefusalCase{L"REFERENCES OF {C.K=1} WHERE ResultRole=X"}));

// WMI refuses a condition with too many AND and OR keywords with WBEM_E_QUOTA_VIOLATION ("Querying
// with WQL"); ours allows 256 operators, parentheses included. Deeper nesting once overflowed the stack.
TEST(ParseTest, ConditionsBeyondTheOperatorLimitAreAQuotaViolation) {
  const auto repeat = [](std::wstring_view part, int n) {
    std::wstring out;
    for (int i = 0; i < n; ++i)
      out += part;
    return out;
  };
  const struct {
    std::wstring where;
    bool accepted;
  } cases[] = {
      {repeat(L"(", 256) + L"a=1" + repeat(L")", 256), true},
      {repeat(L"(", 257) + L"a=1" + repeat(L")", 257), false},
      {repeat(L"not ", 257) + L"a=1", false},
      {L"a=1" + repeat(L" or a=1", 256), true},
      {L"a=1" + repeat(L" and a=1", 257), false},
      {L"a=1" + repeat(L" or not (a=1)", 128), false},
      {repeat(L"not(", 4000) + L"a=1" + repeat(L")", 4000), false},
  };
  for (const auto& c : cases) {
    const auto q = parse(L"SELECT * FROM C WHERE " + c.where);
    EXPECT_EQ(q.has_value(), c.accepted) << c.where.size();
    if (!q) {
      EXPECT_EQ(q.error().code, ErrorCode::quota_violation) << cim::narrow(q.error().message);
    }
  }
}

TEST(ParseTest, AssociatorsKeywordsInAnyOrder) {
  const std::wstring path =
      L"\\\\H\\root\\virtualization:Msvm_ExternalEthernetPort.CreationClassName=\"X\","
      L"DeviceID=\"{A-B}\",SystemName=\"a\\\\b \\\"q\\\"\"";
  auto q = parse(L"associators of { " + path +
                 L" } where resultrole=Dependent KeysOnly AssocClass=A "
                 L"RequiredAssocQualifier=Association Role=Antecedent ResultClass=R RequiredQualifier=Q");
  ASSERT_TRUE(q) << cim::narrow(q.error().message);
  const auto& a = std::get<AssociatorsQuery>(q.value());
  EXPECT_EQ(a.path, path);
  const auto& f = a.filter;
  EXPECT_EQ((std::vector<std::wstring>{f.assoc_class, f.result_class, f.role, f.result_role, f.required_qualifier,
                                       f.required_assoc_qualifier}),
            (std::vector<std::wstring>{L"A", L"R", L"Antecedent", L"Dependent", L"Q", L"Association"}));
  EXPECT_TRUE(a.keys_only);

  auto r = parse(L"REFERENCES OF {C.K=1} WHERE Role=GroupComponent ResultClass=Msvm_SettingsDefineCapabilities");
  ASSERT_TRUE(r);
  const auto& ref = std::get<ReferencesQuery>(r.value());
  EXPECT_EQ(ref.filter.result_class, L"Msvm_SettingsDefineCapabilities");
  EXPECT_EQ(ref.filter.role, L"GroupComponent");
  EXPECT_FALSE(ref.keys_only);
}

}  // namespace
}  // namespace simhost::wql
