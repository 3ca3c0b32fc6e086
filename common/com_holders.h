// Owning holders for BSTR, VARIANT, SAFEARRAY and interface pointers: each releases
// its resource exactly once, on every path. Header-only and shared by both servers.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "common/secure_wipe.h"

namespace corvane {

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR s) : s_(s) {}
  ~UniqueBstr() { SysFreeString(s_); }
  UniqueBstr(UniqueBstr&& other) noexcept : s_(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;

  BSTR Get() const { return s_; }
  explicit operator bool() const { return s_ != nullptr; }
  UINT Length() const { return SysStringLen(s_); }
  BSTR Release() { return std::exchange(s_, nullptr); }
  void Reset(BSTR s = nullptr) { SysFreeString(std::exchange(s_, s)); }
  // For functions that return a new string through a BSTR*.
  BSTR* Receive() {
    Reset();
    return &s_;
  }
  // The held string's slot, for passing it by reference to a callee that may replace
  // it: whatever the slot holds afterwards is freed by the holder.
  BSTR* InOut() { return &s_; }
  // Overwrites the characters before freeing, for strings that held secrets.
  void WipeAndReset() {
    if (s_ != nullptr) WipeBeforeRelease(s_, SysStringByteLen(s_));
    Reset();
  }

 private:
  BSTR s_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&v_); }
  ~UniqueVariant() { VariantClear(&v_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* Get() { return &v_; }
  const VARIANT* Get() const { return &v_; }
  // Clears the held value and hands out the empty VARIANT to be filled.
  VARIANT* Receive() {
    VariantClear(&v_);
    return &v_;
  }
  // Moves the value out to a caller's VARIANT (which is overwritten, not cleared).
  void Release(VARIANT* out) {
    *out = v_;
    VariantInit(&v_);
  }
  // Clears the value, first overwriting a string it holds directly.
  void WipeAndClear() {
    if (V_VT(&v_) == VT_BSTR && V_BSTR(&v_) != nullptr)
      WipeBeforeRelease(V_BSTR(&v_), SysStringByteLen(V_BSTR(&v_)));
    VariantClear(&v_);
  }

 private:
  VARIANT v_;
};

class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  explicit UniqueSafeArray(SAFEARRAY* a) : a_(a) {}
  ~UniqueSafeArray() { Reset(); }
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : a_(other.Release()) {}
  UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;

  SAFEARRAY* Get() const { return a_; }
  explicit operator bool() const { return a_ != nullptr; }
  SAFEARRAY* Release() { return std::exchange(a_, nullptr); }
  void Reset(SAFEARRAY* a = nullptr) {
    SAFEARRAY* old = std::exchange(a_, a);
    if (old != nullptr) SafeArrayDestroy(old);
  }
  SAFEARRAY** Receive() {
    Reset();
    return &a_;
  }
  // The held array's slot, for passing it by reference to a callee that may replace it.
  SAFEARRAY** InOut() { return &a_; }

 private:
  SAFEARRAY* a_ = nullptr;
};

// Locks a SAFEARRAY's elements in memory for the life of the holder.
class SafeArrayAccess {
 public:
  explicit SafeArrayAccess(SAFEARRAY* a) {
    status_ = SafeArrayAccessData(a, &data_);
    if (SUCCEEDED(status_)) a_ = a;
  }
  ~SafeArrayAccess() {
    if (a_ != nullptr) SafeArrayUnaccessData(a_);
  }
  SafeArrayAccess(const SafeArrayAccess&) = delete;
  SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;

  HRESULT Status() const { return status_; }
  unsigned char* Bytes() const { return static_cast<unsigned char*>(data_); }

 private:
  SAFEARRAY* a_ = nullptr;
  void* data_ = nullptr;
  HRESULT status_ = E_UNEXPECTED;
};

// An EXCEPINFO that IDispatch::Invoke may fill; frees its strings.
class UniqueExcepInfo {
 public:
  UniqueExcepInfo() { ZeroMemory(&e_, sizeof e_); }
  ~UniqueExcepInfo() {
    SysFreeString(e_.bstrSource);
    SysFreeString(e_.bstrDescription);
    SysFreeString(e_.bstrHelpFile);
  }
  UniqueExcepInfo(const UniqueExcepInfo&) = delete;
  UniqueExcepInfo& operator=(const UniqueExcepInfo&) = delete;

  EXCEPINFO* Get() { return &e_; }

 private:
  EXCEPINFO e_;
};

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already owns.
  explicit ComPtr(T* p) : p_(p) {}
  // Holds a reference of its own on p (which may be null).
  static ComPtr Share(T* p) {
    if (p != nullptr) p->AddRef();
    return ComPtr(p);
  }
  ~ComPtr() { Reset(); }
  ComPtr(ComPtr&& other) noexcept : p_(other.Detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    Reset(other.Detach());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset(T* p = nullptr) {
    T* old = std::exchange(p_, p);
    if (old != nullptr) old->Release();
  }
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

 private:
  T* p_ = nullptr;
};

}  // namespace corvane
