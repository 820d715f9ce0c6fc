// JSON output of the command line: numbers in the forms the text output uses, and
// one object a line with the separators the tool has always printed.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::ordered_json;

// A finite value as the JSON number of its printf text in `format` (so "%.9g" of a
// float reads back to the same float, "%.3f" gives three decimals); a value that is
// not finite as the string "inf", "-inf" or "nan".
Json JsonReal(double value, const char* format);
// Nine significant digits: the text form that reads back to the same float.
inline Json JsonFloat(float value) { return JsonReal(double(value), "%.9g"); }

// The value on one line, objects as {"key": value, ...} and arrays as [a, b]. Text
// that is not valid UTF-8 (a file name in another encoding) has each bad byte
// replaced by U+FFFD instead of failing.
std::string DumpJson(const Json& value);
