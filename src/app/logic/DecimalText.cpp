#include "logic/DecimalText.h"

#include <limits>

namespace wizard {

std::int64_t readDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number so that the lowest value fits too.
  constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (lowest + digit) / 10) {
      saturated = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (negative) return saturated ? lowest : value;
  if (saturated || value == lowest) return std::numeric_limits<std::int64_t>::max();
  return -value;
}

std::string decimalText(std::int64_t value) { return std::to_string(value); }

}  // namespace wizard
