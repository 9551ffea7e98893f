#pragma once
// Code points to UTF-8, and UTF-16 from untrusted bytes to UTF-8. No Windows
// header: the readers of signatures and version blocks use these on the host too.

#include <cstddef>
#include <optional>
#include <string>

namespace quorvane {

inline bool IsScalarValue(char32_t value) { return value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF); }

inline void AppendUtf8(std::string& utf8, char32_t code_point) {
    if (code_point < 0x80) {
        utf8 += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        utf8 += static_cast<char>(0xC0 | (code_point >> 6));
        utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (code_point >> 12));
        utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (code_point >> 18));
        utf8 += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

// UTF-16 code units (big- or little-endian) as UTF-8; nullopt for an odd byte
// count or a lone surrogate.
inline std::optional<std::string> Utf16BytesToUtf8(const unsigned char* bytes, std::size_t size, bool big_endian) {
    if (size % 2 != 0) return std::nullopt;
    const auto unit = [&](std::size_t index) {
        return big_endian ? char32_t((char32_t{bytes[index]} << 8) | bytes[index + 1])
                          : char32_t((char32_t{bytes[index + 1]} << 8) | bytes[index]);
    };
    std::string utf8;
    for (std::size_t index = 0; index < size; index += 2) {
        char32_t value = unit(index);
        if (value >= 0xD800 && value <= 0xDBFF && size - index >= 4) {
            const char32_t low = unit(index + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
                index += 2;
            }
        }
        if (!IsScalarValue(value)) return std::nullopt;
        AppendUtf8(utf8, value);
    }
    return utf8;
}

}  // namespace quorvane
