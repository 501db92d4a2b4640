// Makes room in physical memory before a large computation: commits, touches and
// releases memory in blocks of one megabyte, so that the system moves other
// pages out beforehand.
#pragma once

#include <functional>

#include "Utile/CommonDecl.h"

namespace utile {

class TvxMaxMem {
 public:
  using TOnProgress = std::function<void(TvxMaxMem& sender, Integer percent)>;
  using TNotifyEvent = std::function<void(TvxMaxMem& sender)>;

  static constexpr Int64 BlockSize = 1'048'576;
  static constexpr Int64 MaxBlocks = 1024;

  // Reads the total physical memory once.
  TvxMaxMem();

  // Commits, zeroes and then releases min(Megabytes, 1024) blocks, no more than
  // the limits of the process's control group and address space leave
  // (tMemoryStatus::LimitRoom), reporting progress in percent after each block of
  // each phase, up to 100. A call made while a run is in progress (from one of
  // its events) returns at once.
  void DefragMemory(Int64 megabytes);
  // DefragMemory over the whole physical memory.
  void DefragAll();
  // Stops the current run after its current block; callable from its events.
  void Abort() { FAbort = true; }

  Int64 TotalMemory() const { return FTotalMemory; }
  Int64 FreeMemory() const { return GetFreeMemory(); }
  Int64 GetFreeMemory() const;
  bool Working() const { return FWorking; }

  TOnProgress OnProgress;
  TNotifyEvent OnBeforeDefrag;
  TNotifyEvent OnAfterDefrag;

 private:
  bool FAbort = false;
  Int64 FTotalMemory = 0;
  bool FWorking = false;
};

}  // namespace utile
