#include "util/UtcTime.h"

#include <cstdio>

namespace tandor {

namespace {

// The digits of text[at, at + count) as a number; nothing when any is no digit.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<std::time_t> ParseUtcTime(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
  if (text.size() != 10 && text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] != '0' && text[i] != kShape[i]) return std::nullopt;
  }
  const bool dayOnly = text.size() == 10;
  const std::optional<int> year = Digits(text, 0, 4), month = Digits(text, 5, 2),
                           day = Digits(text, 8, 2);
  const std::optional<int> hour = dayOnly ? 0 : Digits(text, 11, 2),
                           minute = dayOnly ? 0 : Digits(text, 14, 2),
                           second = dayOnly ? 0 : Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || *year < 1970) return std::nullopt;
  std::tm fields{};
  fields.tm_year = *year - 1900;
  fields.tm_mon = *month - 1;
  fields.tm_mday = *day;
  fields.tm_hour = *hour;
  fields.tm_min = *minute;
  fields.tm_sec = *second;
  const std::time_t time = timegm(&fields);
  // timegm carries 31 January over into February; a date that moved did not exist.
  if (time < 0 || fields.tm_year != *year - 1900 || fields.tm_mon != *month - 1 ||
      fields.tm_mday != *day || fields.tm_hour != *hour || fields.tm_min != *minute ||
      fields.tm_sec != *second)
    return std::nullopt;
  return time;
}

std::string FormatUtcTime(std::time_t time) {
  std::tm fields{};
  gmtime_r(&time, &fields);
  char text[80];  // room for any int the fields may hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

}  // namespace tandor
