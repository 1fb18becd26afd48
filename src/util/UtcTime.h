#pragma once
// Points in time as manifests write them: UTC in ISO 8601, "2027-01-31T12:00:00Z".

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

constexpr std::time_t kSecondsPerDay = 24 * 60 * 60;

// "YYYY-MM-DDTHH:MM:SSZ", or a day alone, "YYYY-MM-DD", meaning its first second. Nothing for
// any other text, a date that does not exist, or a year before 1970 or after 9999.
std::optional<std::time_t> ParseUtcTime(std::string_view text);
// The time as "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTime(std::time_t time);

}  // namespace tandor
