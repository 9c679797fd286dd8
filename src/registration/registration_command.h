// The two registration switches: --repair-registration points both browsers'
// registration of this host at the running executable again, and
// --remove-registration takes it away. Both act only on documents and keys
// that belong to this installation, and report only through their result.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "main/host_error.h"
#include "registration/file_removal.h"
#include "registration/reg_tool.h"
#include "registration/registration.h"

namespace host {

// The steps of the commands that leave the process or that the test
// platform does not carry out, each replaceable on its own.
struct RegistrationSteps {
  std::function<HostResult<void>(std::span<const std::string>, std::string_view)> run_reg_tool =
      win::run_reg_tool;
  win::FileRemovalSteps file_removal;
};

// Loads and judges the registration (nothing registered is success at
// once), then repairs (remove false) or removes (true) it. Stops at the
// first failure; what was changed before it stays changed.
HostResult<void> registration_command(bool remove);
HostResult<void> registration_command(bool remove, const RegistrationSteps& steps);

// The full path of the running executable as the system reports it, as
// UTF-8 (unpaired surrogates become U+FFFD).
HostResult<std::string> running_executable_path();

}  // namespace host
