/*
 * The holders of the format plug-ins: each owns one Windows resource (a file handle, a
 * movable global block, a block's lock, a COM interface) and gives it back on every exit
 * path. None can be copied.
 */
#ifndef Q32_FIO_HOLDERS_H
#define Q32_FIO_HOLDERS_H

#include <windows.h>
#include <unknwn.h>
#include <utility>

namespace fio {

/* A value that Release gives back unless it is None(). */
template <typename T, T (*None)(), void (*Release)(T)>
class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    Owned(Owned &&other) noexcept : value_(other.release()) {}
    Owned &operator=(Owned &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != None(); }
    T release() { return std::exchange(value_, None()); }
    void reset(T value = None())
    {
        T old = std::exchange(value_, value);
        if (old != None()) Release(old);
    }

private:
    T value_ = None();
};

namespace release {
inline HANDLE NoFile() { return INVALID_HANDLE_VALUE; }
inline void CloseFile(HANDLE file) { CloseHandle(file); }
inline HGLOBAL NoBlock() { return nullptr; }
inline void FreeBlock(HGLOBAL block) { GlobalFree(block); }
} // namespace release

/* A handle of CreateFile. */
using FileHandle = Owned<HANDLE, release::NoFile, release::CloseFile>;
/* A movable global block. */
using GlobalHandle = Owned<HGLOBAL, release::NoBlock, release::FreeBlock>;

/* A movable global block locked while the holder lives; null for a null block. */
template <typename T = void>
class Locked {
public:
    explicit Locked(HGLOBAL block) : block_(block), data_(block ? static_cast<T *>(GlobalLock(block)) : nullptr) {}
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;
    ~Locked()
    {
        if (data_) GlobalUnlock(block_);
    }

    T *get() const { return data_; }
    T *operator->() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL block_;
    T *data_;
};

/* A COM interface pointer, released with the holder. */
template <typename T>
class Com {
public:
    Com() = default;
    Com(const Com &) = delete;
    Com &operator=(const Com &) = delete;
    Com(Com &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~Com() { reset(); }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    /* The address to receive a new pointer (what is held is released first). */
    T **put()
    {
        reset();
        return &p_;
    }
    explicit operator bool() const { return p_ != nullptr; }
    void reset()
    {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

} // namespace fio

#endif
