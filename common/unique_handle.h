#pragma once
// Move-only owners of kernel handles. Two types, because Win32 uses two
// different "no handle" values: most functions return NULL on failure, while
// CreateFile and friends return INVALID_HANDLE_VALUE.

#include <windows.h>

#include <utility>

template <typename Traits>
class BasicUniqueHandle {
 public:
  BasicUniqueHandle() = default;
  explicit BasicUniqueHandle(HANDLE handle) : handle_(handle) {}
  ~BasicUniqueHandle() { reset(); }

  BasicUniqueHandle(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle& operator=(const BasicUniqueHandle&) = delete;
  BasicUniqueHandle(BasicUniqueHandle&& other) noexcept : handle_(other.release()) {}
  BasicUniqueHandle& operator=(BasicUniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != Traits::empty(); }
  explicit operator bool() const { return valid(); }

  HANDLE release() { return std::exchange(handle_, Traits::empty()); }

  // Closes the owned handle, if any, and takes `handle`.
  void reset(HANDLE handle = Traits::empty()) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

  // Closes the owned handle and reports whether CloseHandle succeeded; an
  // empty owner reports success.
  bool close() {
    bool ok = !valid() || CloseHandle(handle_) != FALSE;
    handle_ = Traits::empty();
    return ok;
  }

 private:
  HANDLE handle_ = Traits::empty();
};

struct NullHandleTraits {
  static HANDLE empty() { return nullptr; }
};
struct InvalidHandleTraits {
  static HANDLE empty() { return INVALID_HANDLE_VALUE; }
};

// Process, thread, event and pipe handles: NULL means none.
using UniqueHandle = BasicUniqueHandle<NullHandleTraits>;
// File handles from CreateFileW: INVALID_HANDLE_VALUE means none.
using UniqueFileHandle = BasicUniqueHandle<InvalidHandleTraits>;
