// Heap vectors with an arbitrary index range, holding one block of raster cells:
// bytes, 16-bit integers or singles. A container is initialised once, with its
// index range, and then read and written by index without a range check (the
// callers keep their indices inside RowMin..RowMax: the raster block loops run
// millions of times).
#pragma once

#include <cstdint>
#include <memory>

#include "Utile/CommonDecl.h"

namespace utile {

namespace dynamic_arrays_detail {
// Every container is limited to 1,048,576,000 bytes.
constexpr Int64 ByteLimit = 1'048'576'000;

[[noreturn]] void RaiseInitializedTwice();
[[noreturn]] void RaiseTooBig(Int64 requested, Int64 limit);
void CheckRange(Int64 rowMin, Int64 rowMax);
}  // namespace dynamic_arrays_detail

// The element block. It is allocated by the derived vectors' Initialize.
template <class tElement>
class tDynamicArray {
public:
  static constexpr Int64 MaxElements = dynamic_arrays_detail::ByteLimit / static_cast<Int64>(sizeof(tElement));

  tDynamicArray() = default;
  virtual ~tDynamicArray() = default;
  tDynamicArray(const tDynamicArray&) = delete;
  tDynamicArray& operator=(const tDynamicArray&) = delete;

  tElement* GetArray() const { return FCells.get(); }
  tElement* pArray() const { return FCells.get(); }
  bool Initialized() const { return Finitialized; }

protected:
  void Allocate(Int64 count) {
    if (Finitialized) dynamic_arrays_detail::RaiseInitializedTwice();
    if (count > MaxElements) dynamic_arrays_detail::RaiseTooBig(count, MaxElements);
    FCells.reset(count > 0 ? new tElement[static_cast<size_t>(count)]() : nullptr);
    Finitialized = true;
  }

  bool Finitialized = false;
  std::unique_ptr<tElement[]> FCells;
};

template <class tElement>
class tDynVector : public tDynamicArray<tElement> {
public:
  // Allowed once: a zero-filled block for the indices RowMin..RowMax (RowMax =
  // RowMin - 1 gives an empty container).
  bool Initialize(Integer rowMin, Integer rowMax) {
    dynamic_arrays_detail::CheckRange(rowMin, rowMax);
    const Int64 count = static_cast<Int64>(rowMax) - rowMin + 1;
    this->Allocate(count);
    FnbRow = static_cast<Integer>(count);
    FRowMin = rowMin;
    FRowMax = rowMax;
    return true;
  }

  tElement GetCells(Integer i) const { return this->FCells[i - FRowMin]; }
  void SetCells(Integer i, tElement value) { this->FCells[i - FRowMin] = value; }
  tElement& Cells(Integer i) { return this->FCells[i - FRowMin]; }
  const tElement& Cells(Integer i) const { return this->FCells[i - FRowMin]; }

  Integer Rows() const { return FnbRow; }
  Integer RowMin() const { return FRowMin; }
  Integer RowMax() const { return FRowMax; }

private:
  Integer FnbRow = 0;
  Integer FRowMin = 0;
  Integer FRowMax = 0;
};

using TDynamicByteArray = tDynamicArray<Byte>;
using TDynamicSmallIntArray = tDynamicArray<SmallInt>;
using TDynamicSingleArray = tDynamicArray<Single>;

using TDynBytVector = tDynVector<Byte>;
using TDynSmiVector = tDynVector<SmallInt>;
using TDynSngVector = tDynVector<Single>;

}  // namespace utile
