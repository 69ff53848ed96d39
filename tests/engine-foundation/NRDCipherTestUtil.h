// Hex helpers shared by the cipher tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nrd_test {

inline std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int high = -1;
  for (char c : text) {
    const int v = nibble(c);
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline std::string ToHex(const void* data, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

inline std::string ToHex(const std::vector<std::uint8_t>& v) { return ToHex(v.data(), v.size()); }
inline std::string ToHex(const std::string& v) { return ToHex(v.data(), v.size()); }

}  // namespace nrd_test
