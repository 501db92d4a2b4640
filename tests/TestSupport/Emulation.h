// Whether the tests run under a user-mode emulator (qemu-user, as the cross
// build's tests do): the emulator hands the programs it runs the command that
// runs a program of the build (VANDREL_USER_EMULATOR, e.g.
// "qemu-aarch64 -L /usr/aarch64-linux-gnu"). A test that runs one of the build's
// own programs puts it first. The program starter cannot work there (its spawn,
// made from a forked child, never returns under qemu-user): the tests that start
// programs through it skip themselves.
#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

// The command before a program of the build, with a space; empty when the tests
// run natively.
inline std::string UserEmulatorCommand() {
  const char* emulator = std::getenv("VANDREL_USER_EMULATOR");
  return emulator != nullptr && *emulator != '\0' ? std::string(emulator) + " " : std::string();
}

inline bool UnderUserEmulator() {
  return !UserEmulatorCommand().empty();
}

inline std::string UserEmulatorSkipReason() {
  return "Programs are not started under the user-mode emulator (" + UserEmulatorCommand() +
         "): a spawn from a forked child never returns there.";
}

}  // namespace testsupport
