// BSTR allocation and the lifetime of VARIANTs: init, clear, copy.
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "internal.h"
#include "keptblocks/kept_blocks.h"

namespace {

// A BSTR points just past a 4-byte prefix holding its length in bytes. A zero OLECHAR follows the
// characters so that the string also reads as a C string; the prefix does not count it.
constexpr size_t kLengthPrefix = sizeof(uint32_t);
// The byte length, with prefix and terminator, must stay a positive 32-bit count.
constexpr size_t kMaxBytes = 0x7FFFFFFFu - kLengthPrefix - sizeof(OLECHAR);

unsigned char* BlockOf(BSTR bstr) {
  return reinterpret_cast<unsigned char*>(bstr) - kLengthPrefix;
}

// Freed BSTRs are kept for reuse, per thread, as the system's OLE Automation does ("String
// Manipulation Functions": Automation may cache the space allocated for BSTRs): callers allocate
// and free strings of the same few sizes millions of times. Blocks are sized in granules so that a
// kept block serves any string of its class. OANOCACHE=1 turns the cache off, as on Windows;
// builds with AddressSanitizer never cache (KeptBlocks keeps nothing there), so that it sees each
// use after free.
void FreeBlock(void* block) {
  std::free(block);
}
struct BstrTag;
using Cache = keptblocks::KeptBlocks<BstrTag, 64, 64, 8, FreeBlock>;  // blocks up to 4 KiB are kept

const bool g_cacheOff = [] {
  const char* setting = std::getenv("OANOCACHE");
  return setting != nullptr && std::strcmp(setting, "1") == 0;
}();

BSTR AllocBytes(const void* source, size_t bytes) {
  if (bytes > kMaxBytes)
    return nullptr;
  const size_t needed = kLengthPrefix + bytes + sizeof(OLECHAR);
  void* kept = Cache::Take(needed);
  auto* block = static_cast<unsigned char*>(kept != nullptr ? kept : std::malloc(Cache::BlockBytes(needed)));
  if (block == nullptr)
    return nullptr;
  const auto length = static_cast<uint32_t>(bytes);
  std::memcpy(block, &length, sizeof length);
  // With no source the contents are left uninitialised, as the system leaves them: every caller
  // writes them at once, and memory checkers then report a read before that write.
  if (source != nullptr)
    std::memcpy(block + kLengthPrefix, source, bytes);
  std::memset(block + kLengthPrefix + bytes, 0, sizeof(OLECHAR));
  winapi::detail::CountBstrs(+1);
  return reinterpret_cast<BSTR>(block + kLengthPrefix);
}

uint32_t ByteLength(BSTR bstr) {
  uint32_t length = 0;
  if (bstr != nullptr)
    std::memcpy(&length, BlockOf(bstr), sizeof length);
  return length;
}

bool IsInterface(VARTYPE vt) {
  return vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

}  // namespace

namespace winapi::detail {

// Which vt values a VARIANT may carry. VT_RECORD is accepted by reference only: the layer has no
// IRecordInfo implementation to clear or copy a record it would own.
bool IsValidVariantType(VARTYPE vt) {
  if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0)
    return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  const bool indirect = (vt & (VT_ARRAY | VT_BYREF)) != 0;
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
      return !indirect;
    case VT_VARIANT:
      return indirect;
    case VT_RECORD:
      return (vt & VT_BYREF) != 0 && (vt & VT_ARRAY) == 0;
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace winapi::detail

using winapi::detail::IsValidVariantType;

// ---- BSTR ----

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr)
    return nullptr;
  return AllocBytes(psz, std::wcslen(psz) * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return AllocBytes(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return ByteLength(pbstr) / sizeof(OLECHAR);
}

BSTR winapi::detail::CopyBstr(BSTR source) {
  return AllocBytes(source, ByteLength(source));
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr)
    return;
  unsigned char* block = BlockOf(bstrString);
  uint32_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  if (g_cacheOff || !Cache::Keep(block, kLengthPrefix + bytes + sizeof(OLECHAR)))
    std::free(block);
  winapi::detail::CountBstrs(-1);
}

// ---- VARIANT ----

void WINAPI VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr)
    return;
  pvarg->vt = VT_EMPTY;
  pvarg->wReserved1 = 0;
  pvarg->wReserved2 = 0;
  pvarg->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr)
    return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  if (!IsValidVariantType(vt))
    return DISP_E_BADVARTYPE;
  // A reference borrows its target, so only owned values are released.
  if ((vt & VT_BYREF) == 0) {
    if ((vt & VT_ARRAY) != 0) {
      const HRESULT hr = SafeArrayDestroy(pvarg->parray);
      if (FAILED(hr))
        return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(pvarg->bstrVal);
    } else if (IsInterface(vt) && pvarg->punkVal != nullptr) {
      pvarg->punkVal->Release();
    }
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr)
    return E_INVALIDARG;
  const VARTYPE vt = pvargSrc->vt;
  if (!IsValidVariantType(vt))
    return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc)
    return S_OK;

  // Build the copy first: the destination stays as it was if anything fails.
  VARIANT copy = *pvargSrc;
  if ((vt & VT_BYREF) == 0) {
    if ((vt & VT_ARRAY) != 0) {
      if (pvargSrc->parray != nullptr) {
        const HRESULT hr = winapi::detail::CopyArray(pvargSrc->parray, &copy.parray);
        if (FAILED(hr))
          return hr;
      }
    } else if (vt == VT_BSTR) {
      if (pvargSrc->bstrVal != nullptr) {
        copy.bstrVal = winapi::detail::CopyBstr(pvargSrc->bstrVal);
        if (copy.bstrVal == nullptr)
          return E_OUTOFMEMORY;
      }
    } else if (IsInterface(vt) && pvargSrc->punkVal != nullptr) {
      pvargSrc->punkVal->AddRef();
    }
  }
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}
