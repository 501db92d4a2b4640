// The message of the exception an action raises, so that tests can compare the
// system's texts; another exception or none shows up in the text compared.
#pragma once

#include <exception>
#include <string>

namespace testsupport {

template <class tException, class tAction>
std::string MessageOf(tAction action) {
  try {
    action();
  } catch (const tException& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no exception";
}

}  // namespace testsupport
