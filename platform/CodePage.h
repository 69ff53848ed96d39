// Windows-1251 <-> UTF-16 through one 256-entry table.
// Every byte value maps to one UTF-16 unit and back unchanged (0x98, which the code page leaves
// undefined, maps to U+0098), so a round trip never loses data. Units outside the table encode as '?'.
// Plain C++: no Qt, no locale lookups. Thread safety: stateless, callable from anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 unit of one Windows-1251 byte.
char16_t Cp1251ToUnit(std::uint8_t byte);

// The Windows-1251 byte of one UTF-16 unit; `ok` (when given) tells whether the unit is in the table.
std::uint8_t UnitToCp1251(char16_t unit, bool* ok = nullptr);

std::u16string Cp1251ToUtf16(std::string_view bytes);
std::string Utf16ToCp1251(std::u16string_view text);

// Whether the bytes are well-formed UTF-8: shortest forms only, no surrogates, nothing past U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

}  // namespace platform
