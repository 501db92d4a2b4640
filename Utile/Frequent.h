// The text helpers that two workbench windows take from a smaller unit of their
// own; they behave as those of StringOps.
#pragma once

#include <string>
#include <string_view>

#include "Utile/CommonDecl.h"

namespace utile::Frequent {

std::string Replace(std::string_view s, std::string_view oldText, std::string_view newText);
std::string ReplaceFirst(std::string_view s, std::string_view oldText, std::string_view newText);
// Splits S at every Sep into Fields, without reducing runs or skipping fields.
void Tabulate(std::string_view s, char separator, tVectorOfString& fields);

}  // namespace utile::Frequent
