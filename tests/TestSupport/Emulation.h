// Whether the tests run under a user-mode emulator (qemu-user, as the cross
// build's tests do): it tells the programs it runs through VANDREL_USER_EMULATOR.
// Such an emulator cannot start another program faithfully (a vfork-style spawn
// runs as a fork, so that a failed start reads as a success): the tests that
// start programs skip themselves there.
#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

inline bool UnderUserEmulator() {
  const char* emulator = std::getenv("VANDREL_USER_EMULATOR");
  return emulator != nullptr && *emulator != '\0';
}

inline std::string UserEmulatorSkipReason() {
  return std::string("Programs are not started under the user-mode emulator ") +
         std::getenv("VANDREL_USER_EMULATOR") + ": it runs a vfork-style spawn as a fork.";
}

}  // namespace testsupport
