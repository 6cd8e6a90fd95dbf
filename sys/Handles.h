#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <pcre2.h>
#include <shtypes.h>

#include <utility>

// Owners of the platform's handles: one type per handle kind, released by the destructor, copying deleted,
// moving allowed. Each kind is a traits struct naming its null value and how it is released.
template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type value) : value_(value) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const { return value_; }
    bool Valid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return Valid(); }
    Type Release() { return std::exchange(value_, Traits::Null()); }
    void Reset(Type value = Traits::Null()) {
        if (Traits::IsValid(value_)) Traits::Close(value_);
        value_ = value;
    }
    // For calls that write a new handle through a pointer; releases the current one first.
    Type* Receive() {
        Reset();
        return &value_;
    }

private:
    Type value_ = Traits::Null();
};

namespace handle_traits {

// Kernel handles from calls that answer NULL on failure (processes, threads, snapshots, events).
struct Kernel {
    using Type = HANDLE;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
// File handles: CreateFileW answers INVALID_HANDLE_VALUE on failure.
struct File {
    using Type = HANDLE;
    static Type Null() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct Find {
    using Type = HANDLE;
    static Type Null() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct RegKey {
    using Type = HKEY;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    // Predefined root keys are never closed.
    static void Close(Type h) {
        if (reinterpret_cast<ULONG_PTR>(h) < 0x80000000UL || reinterpret_cast<ULONG_PTR>(h) > 0x800000FFUL)
            RegCloseKey(h);
    }
};
struct GdiObject {
    using Type = HGDIOBJ;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
struct Icon {
    using Type = HICON;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { DestroyIcon(h); }
};
// Memory device contexts (CreateCompatibleDC, CreateDC).
struct MemoryDc {
    using Type = HDC;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { DeleteDC(h); }
};
struct Module {
    using Type = HMODULE;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
struct Sid {
    using Type = PSID;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { FreeSid(h); }
};
// Blocks the system hands out with LocalAlloc (access lists, security descriptors, CommandLineToArgvW).
struct LocalMemory {
    using Type = HLOCAL;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { LocalFree(h); }
};

}  // namespace handle_traits

using KernelHandle = UniqueHandle<handle_traits::Kernel>;
using FileHandle = UniqueHandle<handle_traits::File>;
using FindHandle = UniqueHandle<handle_traits::Find>;
using RegKeyHandle = UniqueHandle<handle_traits::RegKey>;
using GdiObjectHandle = UniqueHandle<handle_traits::GdiObject>;
using IconHandle = UniqueHandle<handle_traits::Icon>;
using MemoryDcHandle = UniqueHandle<handle_traits::MemoryDc>;
using ModuleHandle = UniqueHandle<handle_traits::Module>;
using SidHandle = UniqueHandle<handle_traits::Sid>;
using LocalMemoryHandle = UniqueHandle<handle_traits::LocalMemory>;

// A window's device context from GetDC, released with ReleaseDC for the same window.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    WindowDc(WindowDc&& other) noexcept : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and selects the previous one back on destruction.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectGuard() {
        if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Owner of one COM interface pointer.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* p) : p_(p) {}
    ~ComPtr() { Reset(); }
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
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** Receive() {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> other;
        if (p_) p_->QueryInterface(iid, other.ReceiveVoid());
        return other;
    }

private:
    T* p_ = nullptr;
};

namespace handle_traits {

// Blocks COM hands out with CoTaskMemAlloc (shell item names, item-identifier lists).
struct CoTaskMemory {
    using Type = void*;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { CoTaskMemFree(h); }
};

}  // namespace handle_traits

using CoTaskMemoryHandle = UniqueHandle<handle_traits::CoTaskMemory>;

namespace handle_traits {

// Item identifier lists from the shell, freed with the task allocator.
struct ItemIdList {
    using Type = ITEMIDLIST*;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { CoTaskMemFree(h); }
};
struct ImageList {
    using Type = HIMAGELIST;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { ImageList_Destroy(h); }
};
// Compiled 16-bit regular expressions and their match blocks.
struct Pcre2Code {
    using Type = pcre2_code_16*;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { pcre2_code_free_16(h); }
};
struct Pcre2MatchData {
    using Type = pcre2_match_data_16*;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { pcre2_match_data_free_16(h); }
};

}  // namespace handle_traits

using ItemIdListHandle = UniqueHandle<handle_traits::ItemIdList>;
using ImageListHandle = UniqueHandle<handle_traits::ImageList>;
using Pcre2CodeHandle = UniqueHandle<handle_traits::Pcre2Code>;
using Pcre2MatchDataHandle = UniqueHandle<handle_traits::Pcre2MatchData>;

// COM on the calling thread (apartment model) for the owner's lifetime. Only a successful start (S_OK or S_FALSE)
// is balanced: a thread already in another apartment (RPC_E_CHANGED_MODE) must not lose its COM.
class ComScope {
public:
    ComScope() : started_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (started_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ComScope(ComScope&& other) noexcept : started_(std::exchange(other.started_, false)) {}
    // An apartment belongs to its thread; swapping one scope for another would unbalance the count.
    ComScope& operator=(ComScope&&) = delete;
    bool Started() const { return started_; }

private:
    bool started_;
};

namespace handle_traits {

struct Accelerator {
    using Type = HACCEL;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { DestroyAcceleratorTable(h); }
};
struct Menu {
    using Type = HMENU;
    static Type Null() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { DestroyMenu(h); }
};

}  // namespace handle_traits

using AcceleratorHandle = UniqueHandle<handle_traits::Accelerator>;
using MenuHandle = UniqueHandle<handle_traits::Menu>;
