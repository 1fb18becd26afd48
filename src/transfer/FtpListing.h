#pragma once
// Reading FTP folder listings: machine listings (MLSD) and the Unix and DOS forms of LIST, the
// search pattern match done on our side, and the date values listings are kept in.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

struct ListedEntry {
  std::uint32_t Attributes = 0;  // attr:: bits
  std::int64_t ModifiedUtc = 0;  // seconds since 1970-01-01 UTC
  std::int64_t Size = 0;
  std::string Name;
};

// One MLSD line ("type=file;size=5;modify=20240102030405; name"). Nothing for the folder itself,
// its parent and lines that are not entries.
std::optional<ListedEntry> ParseMlsdLine(std::string_view line);

// One LIST line in Unix ("-rw-r--r-- 1 o g 5 Jan  2 03:04 name") or DOS
// ("01-02-24  03:04AM  5 name") form. `now` dates entries that show a time instead of a year.
// Nothing for "total" lines, "." and "..", and lines that are neither form.
std::optional<ListedEntry> ParseListLine(std::string_view line, std::time_t now);

// Every entry of a whole listing, in the server's order.
std::vector<ListedEntry> ParseListing(std::string_view text, bool machineListing, std::time_t now);

// `*` matches any run of characters, `?` one character; letter case is ignored.
bool MatchesNamePattern(std::string_view name, std::string_view pattern);

// A UTC time as a local date value: days since 30 December 1899 00:00 local time, the time of
// day as the fraction.
double LocalDateFromUnixTime(std::int64_t utcSeconds);

}  // namespace tandor
