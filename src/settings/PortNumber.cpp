#include "settings/PortNumber.h"

#include <cctype>
#include <cmath>
#include <string>

#include "platform/Error.h"
#include "text/TextCase.h"

namespace tandor {

namespace {

constexpr int TypeMismatch = 13;
constexpr int Overflow = 6;

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

int ParsePort(std::string_view text) {
  std::string_view digits = Trim(text);
  const std::string original(text);
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  std::size_t dot = digits.find('.');
  std::string_view whole = digits.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : digits.substr(dot + 1);
  if ((whole.empty() && fraction.empty()) || !AllDigits(whole) || !AllDigits(fraction) ||
      (dot != std::string_view::npos && fraction.empty() && whole.empty())) {
    throw RuntimeError(TypeMismatch, "Type mismatch: port \"" + original + "\"");
  }
  double value = 0;
  for (char c : whole) {
    value = value * 10 + (c - '0');
    if (value > 1e6) break;
  }
  double scale = 0.1;
  for (char c : fraction) {
    value += (c - '0') * scale;
    scale /= 10;
  }
  value = std::nearbyint(negative ? -value : value);  // default rounding: half to even
  if (value < 1 || value > 65535) {
    throw RuntimeError(Overflow, "Overflow: port \"" + original + "\"");
  }
  return static_cast<int>(value);
}

}  // namespace tandor
