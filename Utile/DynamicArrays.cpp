#include "Utile/DynamicArrays.h"

#include "Utile/RunTime.h"

namespace utile::dynamic_arrays_detail {

void RaiseInitializedTwice() { throw EInvalidOperation("Dynamic vectors can't be initialized twice"); }

void RaiseTooBig(Int64 requested, Int64 limit) {
  // The same words for all three element types: the message names the counts.
  throw ERangeError(Format("Dynamic bytes vector too big (%d). Maximum number of elements is %d", requested, limit));
}

void CheckRange(Int64 rowMin, Int64 rowMax) {
  Assert(rowMax >= rowMin - 1, "The last index of a dynamic vector cannot lie below its first index minus one");
}

}  // namespace utile::dynamic_arrays_detail
