#include "Utile/Frequent.h"

#include "Utile/StringOps.h"

namespace utile::Frequent {

std::string Replace(std::string_view s, std::string_view oldText, std::string_view newText) {
  return utile::Replace(s, oldText, newText);
}

std::string ReplaceFirst(std::string_view s, std::string_view oldText, std::string_view newText) {
  return utile::ReplaceFirst(s, oldText, newText);
}

void Tabulate(std::string_view s, char separator, tVectorOfString& fields) {
  utile::Tabulate(s, separator, fields, false, 0);
}

}  // namespace utile::Frequent
