// Strict readers of what poll writes, so that the tests check the CSV and the JSON lines as
// a program reading them would, not by comparing strings.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A member of a flat JSON object: null, true or false, a number, a string, or an array of
// strings.
using JsonValue = std::variant<std::nullptr_t, bool, double, std::string, std::vector<std::string>>;
using JsonObject = std::map<std::string, JsonValue>;

// One JSON object whose members are not objects, nor arrays of anything but strings, as
// RFC 8259 writes it, blanks around the tokens allowed; none when the text is anything else
// or holds a name twice.
std::optional<JsonObject> ParseJsonObject(std::string_view text);

// The objects of a program's JSON lines; a line that is not one fails the test, named.
std::vector<JsonObject> JsonLines(const std::string& output);

// The records of RFC 4180 CSV text, each line ended by a line break, fields in double quotes
// where they hold commas, quotes or line breaks; none when a quote is out of place.
std::optional<std::vector<std::vector<std::string>>> ParseCsv(std::string_view text);
