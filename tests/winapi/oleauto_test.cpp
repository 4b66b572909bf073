// BSTR, VARIANT and SAFEARRAY behaviour that the library relies on. Written against the Windows
// API only, so that the same file also runs against the system's oleaut32.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "wine.h"

namespace {

std::wstring Text(BSTR b) {
  return b == nullptr ? std::wstring() : std::wstring(b, SysStringLen(b));
}

uint32_t LengthPrefix(BSTR b) {
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(b) - sizeof bytes, sizeof bytes);
  return bytes;
}

// An interface whose references the tests count; it lives on the stack and is never deleted.
struct Counted : IUnknown {
  ULONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

VARIANT Empty() {
  VARIANT v;
  VariantInit(&v);
  return v;
}

VARIANT Bstr(const wchar_t* s) {
  VARIANT v = Empty();
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

// ---- BSTR ----

TEST(Bstr, PrefixHoldsByteLengthStringIsTerminatedAndNullIsEmpty) {
  BSTR b = SysAllocString(L"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(LengthPrefix(b), 3 * sizeof(OLECHAR));
  EXPECT_EQ(b[3], 0);
  SysFreeString(b);

  BSTR blank = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(SysStringLen(blank), 4u);
  EXPECT_EQ(blank[4], 0);
  SysFreeString(blank);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, EmbeddedZerosSurviveAllocationAndCopy) {
  BSTR b = SysAllocStringLen(L"a\0b", 3);
  EXPECT_EQ(Text(b), std::wstring(L"a\0b", 3));

  VARIANT src = Empty(), dst = Empty();
  src.vt = VT_BSTR;
  src.bstrVal = b;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(Text(dst.bstrVal), std::wstring(L"a\0b", 3));
  VariantClear(&src);
  VariantClear(&dst);
}

// Automation may keep freed space for the next string ("String Manipulation Functions"): a string
// given that space must read exactly as its own, whatever was there before.
TEST(Bstr, SpaceFreedAndGivenAgainHoldsOnlyTheNewString) {
  for (const size_t before : {40u, 33u, 1000u}) {
    for (const size_t after : {40u, 31u, 1u, 0u}) {
      SysFreeString(SysAllocString(std::wstring(before, L'x').c_str()));
      const std::wstring text(after, L'y');
      BSTR b = SysAllocString(text.c_str());
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(Text(b), text) << before << " then " << after;
      EXPECT_EQ(b[after], 0);
      SysFreeString(b);
    }
  }
}

// ---- VARIANT ----

TEST(Variant, ClearReleasesOwnedValuesOnlyAndRefusesBadInput) {
  VARIANT v = Bstr(L"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);

  BSTR target = SysAllocString(L"borrowed");
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &target;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(Text(target), L"borrowed");
  SysFreeString(target);

  Counted object;
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  object.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object.refs, 1u);

  HVC_EXPECT_UNLESS_WINE(VariantClear(nullptr) == E_INVALIDARG, "Wine's VariantClear reads through a null pointer");
  v.vt = 15;  // no such type
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);

  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreateVector(VT_I4, 0, 1);
  SAFEARRAY* const array = v.parray;
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  HVC_EXPECT_UNLESS_WINE(v.vt == (VT_ARRAY | VT_I4),
                         "Wine's VariantClear empties a variant whose locked array it refuses to free");
  SafeArrayUnaccessData(array);
  if (v.vt == VT_EMPTY) {
    SafeArrayDestroy(array);  // the refusal lost the array (Wine): free it here, not in VariantClear
  } else {
    EXPECT_EQ(VariantClear(&v), S_OK);
  }
}

TEST(Variant, CopyIsDeepAndRefusesBadTypes) {
  VARIANT src = Bstr(L"text"), dst = Empty();
  const BSTR before = src.bstrVal;
  EXPECT_EQ(VariantCopy(&src, &src), S_OK);  // onto itself: nothing to do
  EXPECT_EQ(src.bstrVal, before);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(Text(dst.bstrVal), L"text");
  VariantClear(&src);
  src.vt = 15;  // no such type: the destination stays as it was
  EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(Text(dst.bstrVal), L"text");

  // The destination's string is released before the array goes in.
  src.vt = VT_ARRAY | VT_I4;
  src.parray = SafeArrayCreateVector(VT_I4, 0, 1);
  LONG index = 0, value = 7;
  SafeArrayPutElement(src.parray, &index, &value);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_NE(dst.parray, src.parray);
  value = 8;
  SafeArrayPutElement(src.parray, &index, &value);
  LONG* copied = nullptr;
  ASSERT_EQ(SafeArrayAccessData(dst.parray, reinterpret_cast<void**>(&copied)), S_OK);
  EXPECT_EQ(copied[0], 7);
  SafeArrayUnaccessData(dst.parray);
  VariantClear(&src);
  VariantClear(&dst);

  Counted object;
  src.vt = VT_UNKNOWN;
  src.punkVal = &object;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&dst);
  EXPECT_EQ(object.refs, 1u);
}

// ---- VariantChangeType ----

struct Conversion {
  VARTYPE from;
  const wchar_t* text;  // for VT_BSTR sources
  double number;        // for the others
  VARTYPE to;
  HRESULT hr;
  const wchar_t* expectedText;        // for VT_BSTR results
  double expected;                    // for the others
  const char* wineDiffers = nullptr;  // why Wine's result differs, where it does
};

VARIANT Source(const Conversion& c) {
  VARIANT v = Empty();
  v.vt = c.from;
  if (c.from == VT_BSTR)
    v.bstrVal = SysAllocString(c.text);
  else if (c.from == VT_R8)
    v.dblVal = c.number;
  else
    v.llVal = static_cast<LONGLONG>(c.number);  // the narrower integer members are its low bytes
  return v;
}

double Number(const VARIANT& v) {
  return v.vt == VT_UI1                     ? v.bVal
         : v.vt == VT_I2 || v.vt == VT_BOOL ? v.iVal
         : v.vt == VT_I4                    ? v.lVal
         : v.vt == VT_R8                    ? v.dblVal
                                            : -12345;
}

TEST(VariantChangeType, ConvertsAsWindowsDoes) {
  constexpr HRESULT kOk = S_OK, kMismatch = DISP_E_TYPEMISMATCH, kOverflow = DISP_E_OVERFLOW;
  const Conversion cases[] = {
      {VT_BSTR, L"2", 0, VT_I4, kOk, nullptr, 2},
      {VT_BSTR, L"  -17 ", 0, VT_I4, kOk, nullptr, -17},
      {VT_BSTR, L"+5", 0, VT_UI1, kOk, nullptr, 5},
      {VT_BSTR, L"18446744073709551615", 0, VT_I4, kOverflow, nullptr, 0},
      {VT_BSTR, L"1.5", 0, VT_R8, kOk, nullptr, 1.5},
      {VT_BSTR, L"2.5", 0, VT_I4, kOk, nullptr, 2},
      {VT_BSTR, L"abc", 0, VT_I4, kMismatch, nullptr, 0},
      {VT_BSTR, L"12abc", 0, VT_I4, kMismatch, nullptr, 0},
      {VT_BSTR, L"", 0, VT_I4, kMismatch, nullptr, 0},
      {VT_BSTR, L"70000", 0, VT_I2, kOverflow, nullptr, 0},
      {VT_BSTR, L"-1", 0, VT_UI1, kOverflow, nullptr, 0},
      {VT_BSTR, L"True", 0, VT_BOOL, kOk, nullptr, VARIANT_TRUE},
      {VT_BSTR, L"false", 0, VT_BOOL, kOk, nullptr, VARIANT_FALSE},
      {VT_BSTR, L"-1", 0, VT_BOOL, kOk, nullptr, VARIANT_TRUE},
      {VT_I2, nullptr, 123, VT_UI1, kOk, nullptr, 123},
      {VT_I2, nullptr, -5, VT_UI1, kOverflow, nullptr, 0},
      {VT_I4, nullptr, 70000, VT_I2, kOverflow, nullptr, 0},
      {VT_UI4, nullptr, 4294967295.0, VT_I4, kOverflow, nullptr, 0,
       "Wine's VariantChangeType wraps VT_UI4 to VT_I4 although its VarI4FromUI4 reports the overflow"},
      {VT_I4, nullptr, 5, VT_BOOL, kOk, nullptr, VARIANT_TRUE},
      {VT_BOOL, nullptr, -1, VT_I4, kOk, nullptr, -1},
      {VT_R8, nullptr, 2.5, VT_I4, kOk, nullptr, 2},
      {VT_R8, nullptr, 3.5, VT_I4, kOk, nullptr, 4},
      {VT_R8, nullptr, -2.5, VT_I4, kOk, nullptr, -2},
      {VT_R8, nullptr, -1.5, VT_I2, kOk, nullptr, -2},
      {VT_R8, nullptr, 2.6, VT_UI1, kOk, nullptr, 3},
      {VT_R8, nullptr, 1e10, VT_I4, kOverflow, nullptr, 0},
      {VT_R8, nullptr, 2.5, VT_BSTR, kOk, L"2.5", 0},
      {VT_I4, nullptr, -42, VT_BSTR, kOk, L"-42", 0},
      {VT_BOOL, nullptr, -1, VT_BSTR, kOk, L"-1", 0},
      {VT_BOOL, nullptr, 0, VT_BSTR, kOk, L"0", 0},
      {VT_EMPTY, nullptr, 0, VT_I4, kOk, nullptr, 0},
      {VT_EMPTY, nullptr, 0, VT_BSTR, kOk, L"", 0},
      {VT_NULL, nullptr, 0, VT_I4, kMismatch, nullptr, 0},
      {VT_NULL, nullptr, 0, VT_BSTR, kMismatch, nullptr, 0},
      {VT_I4, nullptr, 1, VT_UNKNOWN, kMismatch, nullptr, 0},
      {VT_I4, nullptr, 1, 15, DISP_E_BADVARTYPE, nullptr, 0},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(testing::Message() << "from vt " << c.from << " (" << (c.text ? c.text : L"") << ", " << c.number
                                    << ") to vt " << c.to);
    VARIANT src = Source(c), dst = Empty();
    if (c.wineDiffers != nullptr) {
      HVC_EXPECT_UNLESS_WINE(VariantChangeType(&dst, &src, 0, c.to) == c.hr && dst.vt == VT_EMPTY, c.wineDiffers);
    } else {
      EXPECT_EQ(VariantChangeType(&dst, &src, 0, c.to), c.hr);
      if (c.hr == S_OK) {
        EXPECT_EQ(dst.vt, c.to);
        if (c.to == VT_BSTR) {
          EXPECT_EQ(Text(dst.bstrVal), c.expectedText);
        } else {
          EXPECT_EQ(Number(dst), c.expected);
        }
      } else {
        EXPECT_EQ(dst.vt, VT_EMPTY);
      }
    }
    VariantClear(&src);
    VariantClear(&dst);
  }
}

TEST(VariantChangeType, InPlaceReleasesTheSourceAndFailureKeepsTheDestination) {
  VARIANT v = Bstr(L"12");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 12);

  VARIANT text = Bstr(L"not a number"), dst = Bstr(L"keep");
  EXPECT_EQ(VariantChangeType(&dst, &text, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Text(dst.bstrVal), L"keep");
  EXPECT_EQ(VariantChangeType(&text, &text, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Text(text.bstrVal), L"not a number");
  VariantClear(&text);
  VariantClear(&dst);
}

// ---- SAFEARRAY ----

TEST(SafeArray, BoundsAndShape) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, -2, 5);
  ASSERT_NE(psa, nullptr);
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &bound), S_OK);
  EXPECT_EQ(bound, -2);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &bound), S_OK);
  EXPECT_EQ(bound, 2);
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  EXPECT_EQ(SafeArrayGetElemsize(psa), 4u);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

  psa = SafeArrayCreateVector(VT_I4, 3, 0);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &bound), S_OK);
  EXPECT_EQ(bound, 2);
  SafeArrayDestroy(psa);

  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

// The element 0 of a one-dimensional array, read in place.
template <class T>
T First(SAFEARRAY* psa) {
  T* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
  const T first = data[0];
  SafeArrayUnaccessData(psa);
  return first;
}

TEST(SafeArray, ElementsAreCopiedIn) {
  SAFEARRAY* strings = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG index = 0;
  BSTR mine = SysAllocString(L"value");
  ASSERT_EQ(SafeArrayPutElement(strings, &index, mine), S_OK);
  EXPECT_NE(First<BSTR>(strings), mine);
  SysFreeString(mine);
  EXPECT_EQ(Text(First<BSTR>(strings)), L"value");

  // A copy of the array holds copies of its strings.
  VARIANT src = Empty(), dst = Empty();
  src.vt = VT_ARRAY | VT_BSTR;
  src.parray = strings;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(First<BSTR>(dst.parray), First<BSTR>(strings));
  EXPECT_EQ(Text(First<BSTR>(dst.parray)), L"value");
  VariantClear(&dst);
  VariantClear(&src);

  SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT in = Bstr(L"inside");
  ASSERT_EQ(SafeArrayPutElement(variants, &index, &in), S_OK);
  VariantClear(&in);
  const VARIANT got = First<VARIANT>(variants);
  EXPECT_EQ(got.vt, VT_BSTR);
  EXPECT_EQ(Text(got.bstrVal), L"inside");
  SafeArrayDestroy(variants);

  Counted object;
  SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_EQ(SafeArrayPutElement(objects, &index, static_cast<IUnknown*>(&object)), S_OK);
  EXPECT_EQ(object.refs, 2u);
  SafeArrayDestroy(objects);
  EXPECT_EQ(object.refs, 1u);
}

TEST(SafeArray, LockingRulesNullArgumentsAndBadIndices) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);

  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);

  psa = SafeArrayCreateVector(VT_I4, 0, 1);
  LONG index = 0, value = 1;
  EXPECT_EQ(SafeArrayPutElement(nullptr, &index, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(psa, nullptr, &value), E_INVALIDARG);
  for (LONG bad : {-1, 1})
    EXPECT_EQ(SafeArrayPutElement(psa, &bad, &value), DISP_E_BADINDEX);
  HVC_EXPECT_UNLESS_WINE(SafeArrayPutElement(psa, &index, nullptr) == E_INVALIDARG,
                         "Wine's SafeArrayPutElement copies from a null data pointer");
  EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(psa, nullptr), E_INVALIDARG);
  SafeArrayDestroy(psa);
}

}  // namespace
