// The one error value every fallible operation of the host returns.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace host {

enum class ErrorKind {
  NotFound,
  PermissionDenied,
  NotConnected,
  InvalidInput,
  InvalidData,
  WriteZero,
  Interrupted,
  UnexpectedEof,
  OutOfMemory,
  Other,
};

// Windows error codes that the host reacts to. Kept here so that the
// platform-neutral core can recognise them without a Windows header.
namespace win_error {
inline constexpr std::uint32_t file_not_found = 2;
inline constexpr std::uint32_t path_not_found = 3;
inline constexpr std::uint32_t access_denied = 5;
inline constexpr std::uint32_t invalid_handle = 6;
inline constexpr std::uint32_t not_enough_memory = 8;
inline constexpr std::uint32_t outofmemory = 14;
inline constexpr std::uint32_t invalid_data = 13;
inline constexpr std::uint32_t sharing_violation = 32;
inline constexpr std::uint32_t invalid_parameter = 87;
inline constexpr std::uint32_t broken_pipe = 109;
inline constexpr std::uint32_t pipe_busy = 231;
inline constexpr std::uint32_t no_data = 232;
inline constexpr std::uint32_t pipe_not_connected = 233;
inline constexpr std::uint32_t more_data = 234;
inline constexpr std::uint32_t operation_aborted = 995;
inline constexpr std::uint32_t io_pending = 997;
}  // namespace win_error

// An error is one of: a fixed message with its kind, a Windows error code
// (kept unchanged, its kind derived from it), or the description of a
// source error (kind Other). The text is for diagnostics inside the process
// only; nothing ever prints it.
class HostError {
 public:
  static HostError fixed(ErrorKind kind, std::string_view message) {
    return HostError(kind, std::nullopt, std::string(message));
  }
  static HostError os(std::uint32_t code) { return HostError(kind_of_os_code(code), code, {}); }
  static HostError described(std::string description) {
    return HostError(ErrorKind::Other, std::nullopt, std::move(description));
  }
  // OutOfMemory carries no message.
  static HostError out_of_memory() { return HostError(ErrorKind::OutOfMemory, std::nullopt, {}); }

  ErrorKind kind() const noexcept { return kind_; }
  // The Windows error code of an OS error; empty for every other error.
  std::optional<std::uint32_t> os_code() const noexcept { return os_code_; }
  const std::string& message() const noexcept { return message_; }

  bool is_os(std::uint32_t code) const noexcept { return os_code_ == code; }
  bool is(ErrorKind kind, std::string_view message) const noexcept {
    return kind_ == kind && !os_code_ && message_ == message;
  }

 private:
  HostError(ErrorKind kind, std::optional<std::uint32_t> code, std::string message)
      : kind_(kind), os_code_(code), message_(std::move(message)) {}

  // No Windows code maps to Interrupted: the read and write loops retry that
  // kind, and a cancelled transfer (995) must end them, not repeat them.
  static ErrorKind kind_of_os_code(std::uint32_t code) noexcept {
    switch (code) {
      case win_error::file_not_found:
      case win_error::path_not_found:
        return ErrorKind::NotFound;
      case win_error::access_denied:
        return ErrorKind::PermissionDenied;
      case win_error::not_enough_memory:
      case win_error::outofmemory:
        return ErrorKind::OutOfMemory;
      case win_error::invalid_data:
        return ErrorKind::InvalidData;
      case win_error::invalid_parameter:
        return ErrorKind::InvalidInput;
      case win_error::pipe_not_connected:
        return ErrorKind::NotConnected;
      default:
        return ErrorKind::Other;
    }
  }

  ErrorKind kind_;
  std::optional<std::uint32_t> os_code_;
  std::string message_;
};

template <class T>
using HostResult = std::expected<T, HostError>;

// The fixed messages, each written once.
namespace msg {
inline constexpr std::string_view missing_origin = "Missing extension origin";
inline constexpr std::string_view unapproved_extension = "Unapproved extension";
inline constexpr std::string_view invalid_frame_size = "Invalid native frame size";
inline constexpr std::string_view invalid_native_json = "Invalid native JSON";
inline constexpr std::string_view fill_whole_buffer = "failed to fill whole buffer";
inline constexpr std::string_view write_whole_buffer = "failed to write whole buffer";
inline constexpr std::string_view pipe_closed = "Pipe closed";
inline constexpr std::string_view pipe_state_unavailable = "Pipe state unavailable";
inline constexpr std::string_view unsafe_private_file = "Unsafe private runtime file";
inline constexpr std::string_view invalid_private_acl = "Invalid private file ACL";
inline constexpr std::string_view unowned_registry_key = "Unowned registry key";
inline constexpr std::string_view unowned_marker = "Unowned registration marker";
inline constexpr std::string_view unowned_manifest = "Unowned native host manifest";
inline constexpr std::string_view foreign_registration =
    "Native host registration is owned by another installation";
inline constexpr std::string_view registry_repair_failed = "Native host registry repair failed";
inline constexpr std::string_view registry_removal_failed = "Native host registry removal failed";
inline constexpr std::string_view no_user_app_data = "No user app data";
}  // namespace msg

}  // namespace host
