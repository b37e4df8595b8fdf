// Code pages by name: the numbers by which files, the encoding table and the conversions
// know the supported encodings.
#pragma once

#include <cstdint>

namespace menuconv {

// The Windows code page numbers of the supported file encodings, the names files carry them by.
namespace code_page {
inline constexpr uint32_t kUtf8 = 65001;
inline constexpr uint32_t kUtf7 = 65000;
inline constexpr uint32_t kWindows1250 = 1250;
inline constexpr uint32_t kWindows1251 = 1251;
inline constexpr uint32_t kWindows1252 = 1252;
inline constexpr uint32_t kWindows1253 = 1253;
inline constexpr uint32_t kWindows1254 = 1254;
inline constexpr uint32_t kShiftJis = 932;
inline constexpr uint32_t kIso2022Jp = 50221;
inline constexpr uint32_t kIso2022Kr = 50225;

// The single-byte windows-125x code pages, whose every byte is a character of its own.
constexpr bool IsWindows125x(uint32_t codePage) { return codePage >= kWindows1250 && codePage <= kWindows1254; }
}  // namespace code_page

}  // namespace menuconv
