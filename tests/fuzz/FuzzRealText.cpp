// Reals in text, as every reader takes them, and the 23-character form: a text
// that reads is the nearest double to it (as the C library's strtod finds it in
// the "C" locale);
// the form of any double reads back and is written again alike, and is the form
// that the C library's printf gave.
#include <bit>
#include <cmath>
#include <cstring>

#include "FuzzSupport.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/PrintfRealForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fuzzsupport;
  const std::string_view text = Text(data, size);
  for (const char separator : {'.', ','}) {
    double value;
    if (!utile::TryStrToFloat(text, value, separator)) continue;
    std::string normal(text);
    for (char& c : normal)
      if (c == separator) c = '.';
    const double c = testsupport::CLibraryNumber(normal);
    FuzzCheck(std::isinf(c) || value == c || (value == 0 && c == 0),
              "a real read otherwise than the C library");
    FuzzCheck(std::fabs(value) <= std::numeric_limits<double>::max(), "a real read beyond every double");
  }
  if (size >= sizeof(double)) {
    double x;
    std::memcpy(&x, data, sizeof x);
    char form[24] = {};
    utile::DoubleToDefaultChars(x, form);
    FuzzCheck(testsupport::PrintfDefaultForm(x) == form, "the real form differs from printf's");
    double back;
    if (std::isfinite(x)) {
      FuzzCheck(utile::TryStrToFloat(form, back, '.'), "the real form does not read back");
      char again[24] = {};
      utile::DoubleToDefaultChars(back, again);
      FuzzCheck(std::strcmp(form, again) == 0, "the real form reads back to another form");
    }
  }
  return 0;
}
