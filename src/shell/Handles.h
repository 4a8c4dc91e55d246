#pragma once
// Small owners for Windows handles: each type owns exactly one kind of handle and closes it once.
#include <windows.h>
#include <cstdint>
#include <utility>

// Invalid handle values: most handles are invalid when null, CreateFileW's and FindFirstFileW's
// when INVALID_HANDLE_VALUE.
enum class InvalidValue { Null, MinusOne };

template <typename H, auto Close, InvalidValue Kind = InvalidValue::Null>
class UniqueHandle {
    static H InvalidHandle() {
        if constexpr (Kind == InvalidValue::MinusOne) return reinterpret_cast<H>(static_cast<intptr_t>(-1));
        else return H{};
    }

public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, InvalidHandle())) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept { reset(std::exchange(o.h_, InvalidHandle())); return *this; }
    ~UniqueHandle() { reset(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != InvalidHandle(); }
    void reset(H h = InvalidHandle()) { if (h_ != InvalidHandle()) Close(h_); h_ = h; }
    H release() { return std::exchange(h_, InvalidHandle()); }
    // For out-parameters of the API that opens the handle.
    H* put() { reset(); return &h_; }

private:
    H h_ = InvalidHandle();
};

namespace handles_detail {
inline void CloseKey(HKEY h) { ::RegCloseKey(h); }
inline void CloseServiceHandle(SC_HANDLE h) { ::CloseServiceHandle(h); }
inline void CloseKernelHandle(HANDLE h) { ::CloseHandle(h); }
inline void CloseFind(HANDLE h) { ::FindClose(h); }
inline void FreeLocal(HLOCAL h) { ::LocalFree(h); }
inline void ReleaseModule(HMODULE h) { ::FreeLibrary(h); }
} // namespace handles_detail

using UniqueKey = UniqueHandle<HKEY, &handles_detail::CloseKey>;
using UniqueServiceHandle = UniqueHandle<SC_HANDLE, &handles_detail::CloseServiceHandle>;
// Kernel objects whose open functions return NULL on failure (events, processes, threads, tokens).
using UniqueKernelHandle = UniqueHandle<HANDLE, &handles_detail::CloseKernelHandle>;
// CreateFileW returns INVALID_HANDLE_VALUE on failure.
using UniqueFileHandle = UniqueHandle<HANDLE, &handles_detail::CloseKernelHandle, InvalidValue::MinusOne>;
using UniqueFindHandle = UniqueHandle<HANDLE, &handles_detail::CloseFind, InvalidValue::MinusOne>;
using UniqueLocal = UniqueHandle<HLOCAL, &handles_detail::FreeLocal>;
using UniqueModule = UniqueHandle<HMODULE, &handles_detail::ReleaseModule>;

// Owner of one COM interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~ComPtr() { reset(); }

    // Takes over a reference the caller already holds.
    static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { if (p_) { p_->Release(); p_ = nullptr; } }
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};
