#include "Utile/ToolkitVariant.h"

namespace utile {

namespace {
tToolkitVariant gVariant = tToolkitVariant::tvMainProgram;
}  // namespace

tToolkitVariant ToolkitVariant() { return gVariant; }

void SetToolkitVariant(tToolkitVariant variant) { gVariant = variant; }

}  // namespace utile
