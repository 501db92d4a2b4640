// What the window benchmarks of Vandrel share.
#pragma once

#include <string>

#include "app/WindowServices.h"

namespace benchsupport {

// Nothing may wait for a person: messages go nowhere, questions are answered no.
class tQuietDialogs : public vandrel::tUserDialogs {
 public:
  void ShowMessage(QWidget*, const std::string&, vandrel::tMessageKind) override {}
  bool Confirm(QWidget*, const std::string&) override { return false; }
};

}  // namespace benchsupport
