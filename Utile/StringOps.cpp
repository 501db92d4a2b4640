#include "Utile/StringOps.h"

#include <algorithm>
#include <cmath>

#include "Utile/RunTime.h"

namespace utile {

namespace {

Integer DecimalsFor(Double error) {
  if (error == 0) return 15;
  // The magnitude of the error decides; its sign does not.
  const auto digits = static_cast<Integer>(-Round(std::log10(std::fabs(error))) - 1);
  return digits > 15 ? 15 : digits;
}

}  // namespace

std::string MiddleStr(std::string_view s, Integer first, Integer last) {
  const Int64 size = static_cast<Int64>(s.size());
  const Int64 begin = std::max<Int64>(first, 1), end = std::min<Int64>(last, size);
  if (end < begin) return {};
  return std::string(s.substr(static_cast<size_t>(begin - 1), static_cast<size_t>(end - begin + 1)));
}

std::string RemoveAdjacentSeparators(std::string_view s, char separator) {
  std::string r;
  r.reserve(s.size());
  for (char c : s)
    if (c != separator || r.empty() || r.back() != separator) r += c;
  return r;
}

std::string Replace(std::string_view s, std::string_view oldText, std::string_view newText) {
  if (oldText.empty()) return std::string(s);
  std::string r;
  size_t from = 0;
  for (size_t at = s.find(oldText); at != std::string_view::npos; at = s.find(oldText, from)) {
    r.append(s.substr(from, at - from));
    r.append(newText);
    from = at + oldText.size();
  }
  r.append(s.substr(from));
  return r;
}

std::string ReplaceFirst(std::string_view s, std::string_view oldText, std::string_view newText) {
  const size_t at = oldText.empty() ? std::string_view::npos : s.find(oldText);
  if (at == std::string_view::npos) return std::string(s);
  std::string r(s.substr(0, at));
  r.append(newText);
  r.append(s.substr(at + oldText.size()));
  return r;
}

std::string RemoveFirstValues(std::string_view s, Integer n, char separator) {
  for (Integer i = 0; i < n; ++i) {
    const size_t at = s.find(separator);
    if (at == std::string_view::npos) break;
    s.remove_prefix(at + 1);
  }
  return std::string(s);
}

void Tabulate(std::string_view s, char separator, tVectorOfString& fields, bool removeAdjacent,
              Integer skip) {
  std::string t = removeAdjacent ? RemoveAdjacentSeparators(s, separator) : std::string(s);
  if (skip > 0) t = RemoveFirstValues(t, skip, separator);
  fields.assign(1, std::string());
  for (char c : t) {
    if (c == separator)
      fields.emplace_back();
    else
      fields.back() += c;
  }
}

tVectorOfString TabbedFields(const std::string& text) {
  tVectorOfString fields;
  if (text.empty()) return fields;
  Tabulate(text, '\t', fields, false, 0);
  if (text.back() == '\t') fields.pop_back();
  return fields;
}

Double StrToFloatSafe(std::string_view s) {
  double value;
  if (TryStrToFloat(s, value, DecimalSeparator)) return value;
  const char other = DecimalSeparator == '.' ? ',' : '.';
  if (TryStrToFloat(s, value, other)) return value;
  throw EConvertError(
      "There was a problem with floating point values. It is probably due to a bad decimal separator "
      "setting");
}

std::string ValToStr(Double value, Double error) {
  return Format("%.*f", DecimalsFor(error), value);
}

std::string ValToStrError(Double value, Double error) {
  return Format("%.*f (\u00b1 %g)", DecimalsFor(error), value, error);
}

std::string DurationToStr(Double duration, bool withMilliseconds) {
  constexpr Int64 MillisecondsPerDay = 86'400'000;
  const Int64 total = Round(std::fabs(static_cast<long double>(duration)) * MillisecondsPerDay);
  const Int64 days = total / MillisecondsPerDay;
  Int64 rest = total % MillisecondsPerDay;
  const Int64 milliseconds = rest % 1000;
  rest /= 1000;
  const std::string time =
      withMilliseconds ? Format("%.2d:%.2d:%.2d:%.3d", rest / 3600, rest / 60 % 60, rest % 60, milliseconds)
                       : Format("%.2d:%.2d:%.2d", rest / 3600, rest / 60 % 60, rest % 60);
  return Format("%d D %s", duration < 0 ? -days : days, time);
}

std::string ElapsedTimeToStr(Double duration) {
  constexpr Int64 MillisecondsPerDay = 86'400'000;
  const Int64 seconds = Round(std::max<long double>(duration, 0) * MillisecondsPerDay) / 1000;
  return Format("%.2d:%.2d:%.2d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

tVectorOfString TextLines(const std::string& text) {
  tVectorOfString lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

void AppendTextLines(tVectorOfString& lines, const std::string& text) {
  for (std::string& line : TextLines(text)) lines.push_back(std::move(line));
}

}  // namespace utile
