// The reference of the 23-character real form: the form as the C library's printf
// made it before it was written without it, kept to check the fast form against
// it on every kind of value.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

// Eighteen significant digits of the exact value (ties to even), then fifteen, a
// half going away from zero.
inline std::string PrintfDefaultForm(long double value) {
  if (!std::isfinite(value)) {
    const std::string body = std::isnan(value) ? "Nan" : (value < 0 ? "-Inf" : "+Inf");
    return std::string(23 - body.size(), ' ') + body;
  }
  std::string digits = "0";
  int exponent = 0;
  if (value != 0) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17Le", std::fabs(value));
    digits.clear();
    const char* p = buffer;
    for (; *p != 'e'; ++p)
      if (*p >= '0' && *p <= '9') digits += *p;
    exponent = std::atoi(p + 1);
    const bool up = digits[15] >= '5';
    digits.resize(15);
    int i = 14;
    if (up) {
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0) {
        ++digits[i];
      } else {
        digits = "1" + digits.substr(0, 14);
        ++exponent;
      }
    }
  }
  digits.resize(15, '0');
  char text[32];
  std::snprintf(text, sizeof text, "%c%c.%sE%c%04d", value < 0 ? '-' : ' ', digits[0],
                digits.substr(1).c_str(), exponent < 0 ? '-' : '+', std::abs(exponent));
  return text;
}

}  // namespace testsupport
