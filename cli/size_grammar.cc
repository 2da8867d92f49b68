// SPDX-License-Identifier: MIT
#include "cli/size_grammar.h"

#include <cctype>
#include <cstdint>

namespace tarvelin::cli {
namespace {

constexpr std::uint64_t kMiB = 1048576;

// The suffix after the digits, upper-cased; 0 when it is not one we take.
std::uint64_t Multiplier(std::string suffix) {
  for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (suffix.empty()) return kMiB;  // a plain number counts MiB
  static const char kLetters[] = "KMGT";
  for (int i = 0; i < 4; ++i) {
    const std::string letter(1, kLetters[i]);
    std::uint64_t binary = 1, decimal = 1;
    for (int k = 0; k <= i; ++k) {
      binary *= 1024;
      decimal *= 1000;
    }
    if (suffix == letter || suffix == letter + "IB") return binary;
    if (suffix == letter + "B") return decimal;
  }
  return 0;
}

}  // namespace

const char kSizeForms[] =
    "SIZE is a whole number of MiB, from 1 to 2147483647, written as:\n"
    "  4095         a plain number: MiB\n"
    "  3900M, 4G    K, M, G or T (powers of 1024; also KiB, MiB, GiB, TiB)\n"
    "  1048576KB    KB, MB, GB or TB (powers of 1000)\n";

bool ParseSize(const std::string& text, std::int32_t* mib, std::string* error) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
    ++digits;
  }
  if (digits == 0) {
    *error = "'" + text + "' does not start with a number";
    return false;
  }
  const std::uint64_t multiplier = Multiplier(text.substr(digits));
  if (multiplier == 0) {
    *error = "'" + text.substr(digits) + "' is not a unit of size";
    return false;
  }
  // Past 2^63 bytes nothing could fit the limit anyway; stop before overflow.
  constexpr std::uint64_t kCeiling = std::uint64_t{1} << 63;
  std::uint64_t number = 0;
  bool too_large = false;
  for (std::size_t i = 0; i < digits; ++i) {
    number = number * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (number > kCeiling / multiplier) too_large = true;
    if (too_large) break;
  }
  const std::uint64_t bytes = number * multiplier;
  if (too_large || bytes / kMiB > static_cast<std::uint64_t>(INT32_MAX)) {
    *error = "'" + text + "' is more than 2147483647 MiB";
    return false;
  }
  if (bytes % kMiB != 0) {
    *error = "'" + text + "' is " + std::to_string(bytes) + " bytes, not a whole number of MiB";
    return false;
  }
  if (bytes == 0) {
    *error = "'" + text + "' is less than 1 MiB";
    return false;
  }
  *mib = static_cast<std::int32_t>(bytes / kMiB);
  return true;
}

}  // namespace tarvelin::cli
