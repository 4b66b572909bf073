// SAFEARRAY vectors: creation, element access, locking, copying and destruction.
//
// Layout as on Windows: 16 bytes in front of the descriptor hold the element interface's IID
// (FADF_HAVEIID) or, in their last 4 bytes, the element VARTYPE (FADF_HAVEVARTYPE). The
// descriptor's rgsabound lists the dimensions in reverse order (dimension nDim, 1-based, is
// rgsabound[cDims - nDim]); only vectors are made here, since no caller asks for more.
#include <oleauto.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "internal.h"

namespace {

constexpr size_t kPrefixBytes = 16;
constexpr ULONG kMaxLocks = 0xFFFF;
// Arrays whose descriptor or data the caller provides: never freed here.
constexpr USHORT kForeignDescriptor = FADF_AUTO | FADF_EMBEDDED;
constexpr USHORT kForeignData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

unsigned char* PrefixOf(SAFEARRAY* psa) {
  return reinterpret_cast<unsigned char*>(psa) - kPrefixBytes;
}

size_t DescriptorBytes(UINT cDims) {
  return offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND);
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;  // not an element type
  }
}

// Number of elements, or false if the total byte size would not fit in memory.
bool CountElements(const SAFEARRAY* psa, size_t& count) {
  count = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const size_t n = psa->rgsabound[i].cElements;
    if (n != 0 && count > SIZE_MAX / n)
      return false;
    count *= n;
  }
  return psa->cbElements == 0 || count <= SIZE_MAX / psa->cbElements;
}

size_t ElementCount(const SAFEARRAY* psa) {
  size_t count = 0;
  CountElements(psa, count);
  return count;
}

HRESULT CellOffset(const SAFEARRAY* psa, const LONG* rgIndices, size_t& offset) {
  size_t cell = 0;
  size_t stride = 1;
  for (UINT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - i];
    const int64_t relative = static_cast<int64_t>(rgIndices[i]) - bound.lLbound;
    if (relative < 0 || relative >= static_cast<int64_t>(bound.cElements))
      return DISP_E_BADINDEX;
    cell += static_cast<size_t>(relative) * stride;
    stride *= bound.cElements;
  }
  offset = cell * psa->cbElements;
  return S_OK;
}

unsigned char* Data(SAFEARRAY* psa) {
  return static_cast<unsigned char*>(psa->pvData);
}

// Releases what each element owns and zeroes it.
void ClearElements(SAFEARRAY* psa) {
  if (psa->pvData == nullptr)
    return;
  const size_t count = ElementCount(psa);
  unsigned char* data = Data(psa);
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto* items = reinterpret_cast<BSTR*>(data);
    for (size_t i = 0; i < count; ++i)
      SysFreeString(items[i]);
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* items = reinterpret_cast<IUnknown**>(data);
    for (size_t i = 0; i < count; ++i)
      if (items[i] != nullptr)
        items[i]->Release();
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    auto* items = reinterpret_cast<VARIANT*>(data);
    for (size_t i = 0; i < count; ++i)
      VariantClear(&items[i]);
  }
  std::memset(data, 0, count * psa->cbElements);
}

// Copies one element into zeroed or caller-owned memory, taking the references an owner holds.
HRESULT CopyElementOut(const SAFEARRAY* psa, const void* from, void* to) {
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    const BSTR source = *static_cast<const BSTR*>(from);
    BSTR copy = nullptr;
    if (source != nullptr && (copy = winapi::detail::CopyBstr(source)) == nullptr)
      return E_OUTOFMEMORY;
    *static_cast<BSTR*>(to) = copy;
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    IUnknown* object = *static_cast<IUnknown* const*>(from);
    if (object != nullptr)
      object->AddRef();
    *static_cast<IUnknown**>(to) = object;
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    VariantInit(static_cast<VARIANT*>(to));
    return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
  } else {
    std::memcpy(to, from, psa->cbElements);
  }
  return S_OK;
}

// A descriptor with zeroed prefix and bounds; no data yet.
SAFEARRAY* AllocDescriptor(UINT cDims) {
  auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefixBytes + DescriptorBytes(cDims)));
  if (block == nullptr)
    return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefixBytes);
  psa->cDims = static_cast<USHORT>(cDims);
  winapi::detail::CountSafeArrays(+1);
  return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
  std::free(PrefixOf(psa));
  winapi::detail::CountSafeArrays(-1);
}

bool AllocData(SAFEARRAY* psa) {
  size_t count = 0;
  if (!CountElements(psa, count))
    return false;
  // Never a null pvData, even for an empty array: callers test it after SafeArrayAccessData.
  const size_t bytes = count * psa->cbElements;
  psa->pvData = std::calloc(bytes != 0 ? bytes : 1, 1);
  return psa->pvData != nullptr;
}

HRESULT Lock(SAFEARRAY* psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  if (psa->cLocks >= kMaxLocks)
    return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT Unlock(SAFEARRAY* psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  if (psa->cLocks == 0)
    return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

}  // namespace

SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  const ULONG elementSize = ElementSize(vt);
  if (elementSize == 0)
    return nullptr;
  SAFEARRAY* psa = AllocDescriptor(1);
  if (psa == nullptr)
    return nullptr;
  psa->cbElements = elementSize;
  psa->rgsabound[0] = {cElements, lLbound};

  unsigned char* prefix = PrefixOf(psa);
  switch (vt) {
    case VT_UNKNOWN:
      psa->fFeatures = FADF_UNKNOWN | FADF_HAVEIID;
      std::memcpy(prefix, &IID_IUnknown, sizeof(IID));
      break;
    case VT_DISPATCH:
      psa->fFeatures = FADF_DISPATCH | FADF_HAVEIID;
      std::memcpy(prefix, &IID_IDispatch, sizeof(IID));
      break;
    case VT_BSTR:
      psa->fFeatures = FADF_BSTR | FADF_HAVEVARTYPE;
      break;
    case VT_VARIANT:
      psa->fFeatures = FADF_VARIANT | FADF_HAVEVARTYPE;
      break;
    default:
      psa->fFeatures = FADF_HAVEVARTYPE;
      break;
  }
  psa->fFeatures |= FADF_FIXEDSIZE;
  if ((psa->fFeatures & FADF_HAVEVARTYPE) != 0) {
    const DWORD stored = vt;
    std::memcpy(prefix + kPrefixBytes - sizeof stored, &stored, sizeof stored);
  }
  if (!AllocData(psa)) {
    FreeDescriptor(psa);
    return nullptr;
  }
  return psa;
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr)
    return S_OK;
  if (psa->cLocks != 0)
    return DISP_E_ARRAYISLOCKED;
  ClearElements(psa);
  if ((psa->fFeatures & kForeignData) == 0) {
    std::free(psa->pvData);
    psa->pvData = nullptr;
  }
  if ((psa->fFeatures & kForeignDescriptor) == 0)
    FreeDescriptor(psa);
  return S_OK;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr)
    return E_INVALIDARG;
  const HRESULT hr = Lock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
  return Unlock(psa);
}

HRESULT WINAPI SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr)
    return E_INVALIDARG;
  if ((psa->fFeatures & FADF_BSTR) != 0 && winapi::detail::TakePutFailure(static_cast<const wchar_t*>(pv)))
    return E_OUTOFMEMORY;
  // BSTR and interface elements are passed as the pointer itself, which may be null; other
  // elements are passed by address.
  const bool pointerElement = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
  if (pv == nullptr && !pointerElement)
    return E_INVALIDARG;
  size_t offset = 0;
  HRESULT hr = CellOffset(psa, rgIndices, offset);
  if (FAILED(hr))
    return hr;
  hr = Lock(psa);
  if (FAILED(hr))
    return hr;

  void* cell = Data(psa) + offset;
  if ((psa->fFeatures & FADF_BSTR) != 0) {
    BSTR copy = nullptr;
    if (pv != nullptr && (copy = winapi::detail::CopyBstr(static_cast<BSTR>(pv))) == nullptr) {
      hr = E_OUTOFMEMORY;
    } else {
      SysFreeString(*static_cast<BSTR*>(cell));
      *static_cast<BSTR*>(cell) = copy;
    }
  } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* object = static_cast<IUnknown*>(pv);
    if (object != nullptr)
      object->AddRef();  // before releasing the old one: they may be the same
    IUnknown* old = *static_cast<IUnknown**>(cell);
    *static_cast<IUnknown**>(cell) = object;
    if (old != nullptr)
      old->Release();
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    hr = VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
  } else {
    std::memcpy(cell, pv, psa->cbElements);
  }
  Unlock(psa);
  return hr;
}

namespace {
HRESULT Bound(SAFEARRAY* psa, UINT nDim, LONG* out, bool upper) {
  if (psa == nullptr || out == nullptr)
    return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  // An empty dimension's upper bound is one below its lower bound.
  *out = upper ? static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1) : bound.lLbound;
  return S_OK;
}
}  // namespace

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  return Bound(psa, nDim, plLbound, false);
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  return Bound(psa, nDim, plUbound, true);
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) {
  return psa != nullptr ? psa->cDims : 0;
}

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa != nullptr ? psa->cbElements : 0;
}

HRESULT winapi::detail::CopyArray(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr)
    return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr || psa->cDims == 0)
    return E_INVALIDARG;
  if ((psa->fFeatures & FADF_RECORD) != 0)
    return E_INVALIDARG;  // no IRecordInfo to copy records with
  SAFEARRAY* copy = AllocDescriptor(psa->cDims);
  if (copy == nullptr)
    return E_OUTOFMEMORY;
  if ((psa->fFeatures & (FADF_HAVEIID | FADF_HAVEVARTYPE)) != 0)
    std::memcpy(PrefixOf(copy), PrefixOf(psa), kPrefixBytes);
  copy->fFeatures = psa->fFeatures & ~kForeignData;
  copy->cbElements = psa->cbElements;
  std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  if (!AllocData(copy)) {
    FreeDescriptor(copy);
    return E_OUTOFMEMORY;
  }
  const size_t count = psa->pvData != nullptr ? ElementCount(psa) : 0;
  const size_t size = psa->cbElements;
  for (size_t i = 0; i < count; ++i) {
    const HRESULT hr = CopyElementOut(psa, Data(psa) + i * size, Data(copy) + i * size);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}
