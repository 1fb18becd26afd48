#include "transfer/FtpListing.h"

#include <array>
#include <cctype>
#include <charconv>

#include "text/TextCase.h"
#include "transfer/DirItem.h"

namespace tandor {

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

std::optional<std::int64_t> ToNumber(std::string_view text) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return {};
  return value;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::vector<std::string_view> SplitWords(std::string_view line, std::size_t maxWords,
                                         std::string_view* rest) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (words.size() < maxWords) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) break;
    std::size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) end = line.size();
    words.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (pos < line.size()) ++pos;  // the one blank that separates the name
  *rest = pos < line.size() ? line.substr(pos) : std::string_view();
  return words;
}

int MonthNumber(std::string_view word) {
  static constexpr std::array<std::string_view, 12> Months = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  std::string lower = LowerAscii(word);
  for (std::size_t i = 0; i < Months.size(); ++i) {
    if (lower == Months[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool IsDotEntry(std::string_view name) {
  return name == "." || name == "..";
}

std::optional<ListedEntry> ParseUnixLine(std::string_view line, std::time_t now) {
  if (line.size() < 10 || std::string_view("-dlbcps").find(line[0]) == std::string_view::npos) {
    return {};
  }
  std::string_view rest;
  // permissions, links, owner, group, size, month, day, time-or-year; some servers leave out
  // the group, so the month is looked for rather than counted to.
  std::vector<std::string_view> words = SplitWords(line, 9, &rest);
  std::size_t monthAt = 0;
  for (std::size_t i = 3; i + 2 < words.size(); ++i) {
    if (MonthNumber(words[i]) != 0 && ToNumber(words[i - 1])) {
      monthAt = i;
      break;
    }
  }
  if (monthAt == 0) return {};
  // The name starts after the time-or-year word; re-split to keep blanks inside it.
  std::vector<std::string_view> head = SplitWords(line, monthAt + 3, &rest);
  if (head.size() != monthAt + 3 || rest.empty()) return {};

  ListedEntry entry;
  entry.Size = *ToNumber(head[monthAt - 1]);
  const int month = MonthNumber(head[monthAt]);
  const auto day = ToNumber(head[monthAt + 1]);
  std::string_view timeOrYear = head[monthAt + 2];
  if (!day) return {};
  int year = 0, hour = 0, minute = 0;
  if (std::size_t colon = timeOrYear.find(':'); colon != std::string_view::npos) {
    auto h = ToNumber(timeOrYear.substr(0, colon));
    auto m = ToNumber(timeOrYear.substr(colon + 1));
    if (!h || !m) return {};
    hour = static_cast<int>(*h);
    minute = static_cast<int>(*m);
    std::tm nowUtc{};
    gmtime_r(&now, &nowUtc);
    year = nowUtc.tm_year + 1900;
    // A time instead of a year means within the last six months: a date ahead of today belongs
    // to last year.
    if (UtcSeconds(year, month, static_cast<int>(*day), hour, minute, 0) > now + SecondsPerDay) {
      --year;
    }
  } else if (auto y = ToNumber(timeOrYear)) {
    year = static_cast<int>(*y);
  } else {
    return {};
  }
  entry.ModifiedUtc = UtcSeconds(year, month, static_cast<int>(*day), hour, minute, 0);

  std::string_view name = rest;
  if (line[0] == 'l') {
    if (std::size_t arrow = name.find(" -> "); arrow != std::string_view::npos) {
      name = name.substr(0, arrow);
    }
  }
  if (IsDotEntry(name)) return {};
  entry.Name = std::string(name);
  entry.Attributes = line[0] == 'd' ? attr::Directory : attr::Normal;
  if (line[2] != 'w') entry.Attributes |= attr::ReadOnly;
  return entry;
}

std::optional<ListedEntry> ParseDosLine(std::string_view line) {
  std::string_view rest;
  std::vector<std::string_view> words = SplitWords(line, 3, &rest);
  if (words.size() != 3 || rest.empty()) return {};
  std::string_view date = words[0], time = words[1];
  if (date.size() != 8 || date[2] != '-' || date[5] != '-') return {};
  auto month = ToNumber(date.substr(0, 2));
  auto day = ToNumber(date.substr(3, 2));
  auto year = ToNumber(date.substr(6, 2));
  if (!month || !day || !year) return {};
  if (time.size() != 7 || time[2] != ':') return {};
  auto hour = ToNumber(time.substr(0, 2));
  auto minute = ToNumber(time.substr(3, 2));
  if (!hour || !minute) return {};
  const bool pm = LowerAscii(time.substr(5)) == "pm";
  int h = static_cast<int>(*hour % 12) + (pm ? 12 : 0);
  int fullYear = static_cast<int>(*year) + (*year < 70 ? 2000 : 1900);

  ListedEntry entry;
  if (words[2] == "<DIR>") {
    entry.Attributes = attr::Directory;
  } else if (auto size = ToNumber(words[2])) {
    entry.Attributes = attr::Normal;
    entry.Size = *size;
  } else {
    return {};
  }
  // The name follows the size column after any run of blanks.
  std::size_t start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) return {};
  std::string_view name = rest.substr(start);
  if (IsDotEntry(name)) return {};
  entry.Name = std::string(name);
  entry.ModifiedUtc = UtcSeconds(fullYear, static_cast<int>(*month), static_cast<int>(*day), h,
                                 static_cast<int>(*minute), 0);
  return entry;
}

}  // namespace

std::optional<ListedEntry> ParseMlsdLine(std::string_view line) {
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos || space + 1 >= line.size()) return {};
  std::string_view facts = line.substr(0, space);
  ListedEntry entry;
  entry.Name = std::string(line.substr(space + 1));
  std::string type;
  std::string_view perm;
  bool hasPerm = false;
  while (!facts.empty()) {
    std::size_t semi = facts.find(';');
    std::string_view fact = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
    std::size_t eq = fact.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = LowerAscii(fact.substr(0, eq));
    std::string_view value = fact.substr(eq + 1);
    if (key == "type") {
      type = LowerAscii(value);
    } else if (key == "size") {
      entry.Size = ToNumber(value).value_or(0);
    } else if (key == "modify" && value.size() >= 14) {
      auto part = [&](std::size_t at, std::size_t n) {
        return static_cast<int>(ToNumber(value.substr(at, n)).value_or(0));
      };
      entry.ModifiedUtc =
          UtcSeconds(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), part(12, 2));
    } else if (key == "perm") {
      perm = value;
      hasPerm = true;
    }
  }
  if (type == "cdir" || type == "pdir" || type.empty() || IsDotEntry(entry.Name)) return {};
  if (type == "dir") {
    entry.Attributes = attr::Directory;
  } else {
    entry.Attributes = attr::Normal;
    if (hasPerm && perm.find_first_of("wWaA") == std::string_view::npos) {
      entry.Attributes |= attr::ReadOnly;
    }
  }
  return entry;
}

std::optional<ListedEntry> ParseListLine(std::string_view line, std::time_t now) {
  if (line.empty()) return {};
  if (std::isdigit(static_cast<unsigned char>(line[0]))) return ParseDosLine(line);
  return ParseUnixLine(line, now);
}

std::vector<ListedEntry> ParseListing(std::string_view text, bool machineListing, std::time_t now) {
  std::vector<ListedEntry> entries;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto entry = machineListing ? ParseMlsdLine(line) : ParseListLine(line, now);
    if (entry) entries.push_back(std::move(*entry));
  }
  return entries;
}

bool MatchesNamePattern(std::string_view name, std::string_view pattern) {
  return MatchesWildcard(name, pattern, true);
}

double LocalDateFromUnixTime(std::int64_t utcSeconds) {
  auto seconds = static_cast<std::time_t>(utcSeconds);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  const std::int64_t days = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) -
                            DaysFromCivil(1899, 12, 30);
  const double fraction = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) /
                          static_cast<double>(SecondsPerDay);
  return static_cast<double>(days) + fraction;
}

}  // namespace tandor
