// Small owners for COM resources, so that every early return releases what was obtained.
#pragma once

#include <windows.h>

#include <utility>

namespace hvc {

// Owns one reference to an interface.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  explicit ComPtr(T* p) noexcept : p_(p) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Releases what is held and hands out the slot for a call that fills it.
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  // Gives up ownership without releasing.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (p_ != nullptr)
      std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR.
class BstrPtr {
 public:
  BstrPtr() noexcept = default;
  explicit BstrPtr(BSTR b) noexcept : b_(b) {}
  BstrPtr(const BstrPtr&) = delete;
  BstrPtr& operator=(const BstrPtr&) = delete;
  BstrPtr(BstrPtr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
  BstrPtr& operator=(BstrPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      b_ = std::exchange(other.b_, nullptr);
    }
    return *this;
  }
  ~BstrPtr() { Reset(); }

  BSTR Get() const noexcept { return b_; }
  BSTR* Put() noexcept {
    Reset();
    return &b_;
  }
  BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
  void Reset() noexcept { SysFreeString(std::exchange(b_, nullptr)); }

 private:
  BSTR b_ = nullptr;
};

// Owns a VARIANT's value; cleared on destruction and before each refill.
class VariantHolder {
 public:
  VariantHolder() noexcept { VariantInit(&v_); }
  VariantHolder(const VariantHolder&) = delete;
  VariantHolder& operator=(const VariantHolder&) = delete;
  ~VariantHolder() { VariantClear(&v_); }

  VARIANT& Get() noexcept { return v_; }
  const VARIANT& Get() const noexcept { return v_; }
  VARIANT* Put() noexcept {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

// Owns a SAFEARRAY descriptor and its elements.
class SafeArrayPtr {
 public:
  SafeArrayPtr() noexcept = default;
  explicit SafeArrayPtr(SAFEARRAY* p) noexcept : p_(p) {}
  SafeArrayPtr(const SafeArrayPtr&) = delete;
  SafeArrayPtr& operator=(const SafeArrayPtr&) = delete;
  ~SafeArrayPtr() { Reset(); }

  SAFEARRAY* Get() const noexcept { return p_; }
  SAFEARRAY* Detach() noexcept { return std::exchange(p_, nullptr); }
  void Reset() noexcept {
    if (p_ != nullptr)
      SafeArrayDestroy(std::exchange(p_, nullptr));
  }

 private:
  SAFEARRAY* p_ = nullptr;
};

}  // namespace hvc
