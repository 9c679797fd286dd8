// Owners of Windows resources: the destructor releases, so every failure
// path releases by leaving scope. Results of the release calls are ignored.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace host::win {

// A kernel handle; both null and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return valid(handle_); }
  HANDLE release() noexcept { return std::exchange(handle_, nullptr); }
  void reset(HANDLE handle = nullptr) noexcept {
    if (valid(handle_)) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  HANDLE handle_ = nullptr;
};

// Memory the system allocated for the caller with LocalAlloc.
template <class T>
class UniqueHlocal {
 public:
  UniqueHlocal() noexcept = default;
  explicit UniqueHlocal(T pointer) noexcept : pointer_(pointer) {}
  UniqueHlocal(UniqueHlocal&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  UniqueHlocal& operator=(UniqueHlocal&& other) noexcept {
    if (this != &other) {
      reset();
      pointer_ = std::exchange(other.pointer_, nullptr);
    }
    return *this;
  }
  UniqueHlocal(const UniqueHlocal&) = delete;
  UniqueHlocal& operator=(const UniqueHlocal&) = delete;
  ~UniqueHlocal() { reset(); }

  T get() const noexcept { return pointer_; }
  // For out-parameters of the calls that allocate.
  T* put() noexcept {
    reset();
    return &pointer_;
  }
  void reset() noexcept {
    if (pointer_) ::LocalFree(reinterpret_cast<HLOCAL>(pointer_));
    pointer_ = nullptr;
  }

 private:
  T pointer_ = nullptr;
};

// Windows' wide strings are the host's char16_t strings.
inline const wchar_t* wide(const std::u16string& s) noexcept { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace host::win
