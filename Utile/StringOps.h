// Text helpers of every window and file reader: substrings, replacement, field
// splitting, a number parser that survives the wrong decimal separator, numbers
// shown with as many decimals as their error justifies, and durations.
#pragma once

#include <string>
#include <string_view>

#include "Utile/CommonDecl.h"

namespace utile {

// Characters First..Last of S, counted from 1, inclusive (clamped to S).
std::string MiddleStr(std::string_view s, Integer first, Integer last);
// Every run of Sep characters reduced to one.
std::string RemoveAdjacentSeparators(std::string_view s, char separator);
// Every occurrence of Old replaced by New, left to right; replaced text is not
// scanned again; case-sensitive. An empty Old replaces nothing.
std::string Replace(std::string_view s, std::string_view oldText, std::string_view newText);
std::string ReplaceFirst(std::string_view s, std::string_view oldText, std::string_view newText);
// S without its first N fields: N times, while S holds Sep, everything up to and
// including the first Sep goes.
std::string RemoveFirstValues(std::string_view s, Integer n, char separator);
// Splits S at every Sep into Fields (k separators give k + 1 fields), after
// reducing runs of Sep when RemoveAdjacent and dropping the first Skip fields.
void Tabulate(std::string_view s, char separator, tVectorOfString& fields, bool removeAdjacent, Integer skip);
// The fields of a line whose values are each followed by a TAB (the last one may
// lack it): no fields for an empty line, the TAB after the last value opens none.
tVectorOfString TabbedFields(const std::string& text);
// The lines of a text, whether they end in CR LF or LF alone; a last line without
// its end counts, an empty text has none.
tVectorOfString TextLines(const std::string& text);
// The same lines appended to Lines.
void AppendTextLines(tVectorOfString& lines, const std::string& text);

// The real number written in S with the current decimal separator, else with
// the other one (point or comma); EConvertError when neither reads. The process's
// separator is left as it was.
Double StrToFloatSafe(std::string_view s);
// Value with as many decimals as Error justifies: -Round(log10|Error|) - 1, or
// 15 for a zero error, at most 15.
std::string ValToStr(Double value, Double error);
// The same followed by " (± error)".
std::string ValToStrError(Double value, Double error);
// A duration in days as "days D hh:mm:ss" or "days D hh:mm:ss:zzz".
std::string DurationToStr(Double duration, bool withMilliseconds);
// A duration given in days as "hh:mm:ss", the form of a time of day but with the
// hours counted on past a day (1.5 days: "36:00:00"); to the millisecond, then
// whole seconds. Nothing below 0.
std::string ElapsedTimeToStr(Double duration);

}  // namespace utile
