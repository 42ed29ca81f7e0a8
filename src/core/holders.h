/*
 * Small RAII holders for the module's Windows resources, so that every exit path
 * releases what it took. Each holder owns one thing and cannot be copied.
 */
#ifndef Q32_HOLDERS_H
#define Q32_HOLDERS_H

#include <windows.h>
#include <utility>

namespace q32 {

/* A handle with its close function; Traits gives the type, its "no handle" value and
   how to close it. */
template <typename Traits>
class Holder {
    using T = typename Traits::Type;

public:
    Holder() = default;
    explicit Holder(T value) : value_(value) {}
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;
    Holder(Holder &&other) noexcept : value_(other.release()) {}
    Holder &operator=(Holder &&other) noexcept { reset(other.release()); return *this; }
    ~Holder() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    T release() { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid())
    {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }

private:
    T value_ = Traits::Invalid();
};

/* CreateFile and FindFirstFile: INVALID_HANDLE_VALUE means none. */
struct FileTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct KeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static HMODULE Invalid() { return nullptr; }
    static void Close(HMODULE m) { FreeLibrary(m); }
};
struct GlobalTraits {
    using Type = HGLOBAL;
    static HGLOBAL Invalid() { return nullptr; }
    static void Close(HGLOBAL g) { GlobalFree(g); }
};

using FileHandle = Holder<FileTraits>;
using FindHandle = Holder<FindTraits>;
using KeyHandle = Holder<KeyTraits>;
using ModuleHandle = Holder<ModuleTraits>;
using GlobalHandle = Holder<GlobalTraits>;

/* A movable global block locked for the holder's lifetime. */
template <typename T = void>
class Locked {
public:
    explicit Locked(HGLOBAL block) : block_(block), data_(block ? GlobalLock(block) : nullptr) {}
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    ~Locked() { if (data_) GlobalUnlock(block_); }

    T *get() const { return static_cast<T *>(data_); }
    T *operator->() const { return get(); }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL block_;
    void *data_;
};

/* Runs a function when the scope ends. */
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};

} // namespace q32

#endif
