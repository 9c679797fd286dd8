// Owner of an open registry key: the destructor closes it, so every failure
// path closes by leaving scope. The result of RegCloseKey is ignored.
#pragma once

#include <windows.h>

#include <utility>

namespace host::win {

class UniqueHkey {
 public:
  UniqueHkey() noexcept = default;
  explicit UniqueHkey(HKEY key) noexcept : key_(key) {}
  UniqueHkey(UniqueHkey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  UniqueHkey& operator=(UniqueHkey&& other) noexcept {
    if (this != &other) {
      reset();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { reset(); }

  HKEY get() const noexcept { return key_; }
  explicit operator bool() const noexcept { return key_ != nullptr; }
  // For the out-parameter of RegOpenKeyExW and RegCreateKeyExW.
  HKEY* put() noexcept {
    reset();
    return &key_;
  }
  void reset() noexcept {
    if (key_) ::RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace host::win
