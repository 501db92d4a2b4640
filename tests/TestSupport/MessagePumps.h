// A computation's chances to let window messages through, each call of
// utile::ProcessMessages, seen one by one however fast the machine: a test acts
// at a given point of the work (a pass, a date, a step) rather than at a time,
// and measures the work done between two chances in this thread's processor
// time, which the other work of the machine does not lengthen.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>

#include "TestSupport/Measurement.h"
#include "Utile/Platform.h"

namespace testsupport {

struct tEveryPumpCallOptions {
  // The processor time between two calls measured (a system call each).
  bool MeasureWork = false;
};

// While it lives, every call of ProcessMessages comes here: it is counted, the
// action given runs (never inside itself), and the pump that was installed runs
// as often as it did (once its interval has passed) or at once when asked. One
// at a time.
class tEveryPumpCall {
 public:
  using tOptions = tEveryPumpCallOptions;

  explicit tEveryPumpCall(std::function<void()> atEveryCall = {}, tOptions options = {})
      : fAction(std::move(atEveryCall)), fOptions(options), fPump(utile::MessagePump()) {
    if (gCurrent != nullptr) throw std::logic_error("one tEveryPumpCall at a time");
    gCurrent = this;
    fLastCall = options.MeasureWork ? ThreadSeconds() : 0;
    utile::SetMessagePump(&Call);
    utile::SetMessagePumpInterval(0);
  }
  ~tEveryPumpCall() {
    utile::SetMessagePumpInterval(utile::MessagePumpIntervalNanoseconds);
    utile::SetMessagePump(fPump);
    gCurrent = nullptr;
  }
  tEveryPumpCall(const tEveryPumpCall&) = delete;
  tEveryPumpCall& operator=(const tEveryPumpCall&) = delete;

  int64_t Calls() const { return fCalls; }
  // The passes of the installed pump so far.
  int64_t Pumps() const { return fPumps; }
  // The most processor time this thread spent between two calls (or since the
  // start, or since the last call up to now), the action and the pump left out.
  double LongestWork() const {
    return fOptions.MeasureWork ? std::max(fLongestWork, ThreadSeconds() - fLastCall) : 0;
  }
  // The installed pump runs at this call (asked from the action) or the next,
  // whatever the time.
  void PumpNow() { fPumpNow = true; }

 private:
  static void Call() {
    tEveryPumpCall& self = *gCurrent;
    if (self.fOptions.MeasureWork)
      self.fLongestWork = std::max(self.fLongestWork, ThreadSeconds() - self.fLastCall);
    ++self.fCalls;
    if (self.fAction && !self.fInAction) {
      struct tInAction {
        bool& Flag;
        explicit tInAction(bool& flag) : Flag(flag) { Flag = true; }
        ~tInAction() { Flag = false; }
      } inAction(self.fInAction);
      self.fAction();
    }
    const int64_t now = utile::platform_detail::CoarseNanoseconds();
    if (self.fPump && (self.fPumpNow || now >= self.fNextPump)) {
      self.fPumpNow = false;
      self.fNextPump = now + utile::MessagePumpIntervalNanoseconds;
      ++self.fPumps;
      self.fPump();
    }
    if (self.fOptions.MeasureWork) self.fLastCall = ThreadSeconds();
  }

  static inline tEveryPumpCall* gCurrent = nullptr;
  std::function<void()> fAction;
  tOptions fOptions;
  utile::tMessagePump fPump;
  int64_t fCalls = 0, fPumps = 0;
  int64_t fNextPump = 0;
  bool fPumpNow = false, fInAction = false;
  double fLastCall = 0, fLongestWork = 0;
};

}  // namespace testsupport
