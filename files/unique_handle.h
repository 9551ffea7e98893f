#pragma once
// The one owner type for every kind of Windows handle: move-only, copying
// deleted (a copied owner would close its handle twice), released once by
// the given function. Each handle kind is an alias of it beside the code that
// uses that kind.

#include <utility>

namespace quorvane {

template <typename Handle, auto Release>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, Handle{}));
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Handle{}; }
    // Where a creation call writes its result.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    // Releases what is held, then holds handle.
    void reset(Handle handle = Handle{}) noexcept {
        if (handle_ != Handle{}) Release(handle_);
        handle_ = handle;
    }
    // Gives up ownership, for a handle that another owner now frees.
    Handle release() noexcept { return std::exchange(handle_, Handle{}); }

private:
    Handle handle_{};
};

}  // namespace quorvane
