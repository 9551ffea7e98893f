// Utf8ToWide and WideToUtf8 for the host build, in place of files/text.cpp and
// its Windows conversions. They keep the behaviour the Windows build has: the
// input is read up to its first zero, and every ill-formed sequence becomes
// U+FFFD, as many times as the Windows conversion replaces it.
// The wide text holds UTF-16 code units where wchar_t has 16 bits and whole
// code points where it has 32.

#include <string>
#include <type_traits>

#include "files/code_points.h"
#include "files/text.h"

namespace quorvane {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The continuation bytes a lead byte asks for; 0 for a byte that cannot lead.
std::size_t ContinuationCount(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 1;
    if (lead >= 0xE0 && lead <= 0xEF) return 2;
    if (lead >= 0xF0 && lead <= 0xF4) return 3;
    return 0;
}

// Reads the sequence led by the byte at offset (0x80 or above) and moves past it.
// An ill-formed sequence is replaced once. Its continuation bytes are taken one
// by one; an overlong form or a surrogate is known once the second byte is taken,
// a value beyond U+10FFFF before the third byte of four, which is then left for
// the next sequence.
char32_t DecodeSequence(const std::string& text, std::size_t& offset) {
    const auto lead = static_cast<unsigned char>(text[offset++]);
    std::size_t remaining = ContinuationCount(lead);
    if (remaining == 0) return kReplacement;
    char32_t value = lead & (0x3Fu >> remaining);
    while (remaining > 0) {
        if (offset == text.size()) return kReplacement;
        const auto byte = static_cast<unsigned char>(text[offset]);
        if (!IsContinuation(byte)) return kReplacement;
        const char32_t next = (value << 6) | (byte & 0x3Fu);
        if (remaining == 2 && next >= (0x110000 >> 6)) return kReplacement;
        value = next;
        ++offset;
        --remaining;
        if (remaining == 2 && value < 0x10) return kReplacement;  // four bytes for less than U+10000
        if (remaining == 1 && (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)))) {
            return kReplacement;  // three bytes for less than U+0800, or a surrogate
        }
    }
    return value;
}

void AppendCodePoint(std::wstring& wide, char32_t code_point) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (code_point >= 0x10000) {
            const char32_t offset = code_point - 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (offset >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (offset & 0x3FF));
            return;
        }
    }
    wide += static_cast<wchar_t>(code_point);
}

bool IsSurrogate(char32_t value) { return value >= 0xD800 && value <= 0xDFFF; }

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) {
    const std::string text = utf8.c_str();
    std::wstring wide;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const auto byte = static_cast<unsigned char>(text[offset]);
        if (byte < 0x80) {
            wide += static_cast<wchar_t>(byte);
            ++offset;
        } else {
            AppendCodePoint(wide, DecodeSequence(text, offset));
        }
    }
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    const std::wstring text = wide.c_str();
    std::string utf8;
    for (std::size_t index = 0; index < text.size(); ++index) {
        auto value = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[index]));
        if constexpr (sizeof(wchar_t) == 2) {
            const bool pair = value >= 0xD800 && value <= 0xDBFF && index + 1 < text.size() &&
                              text[index + 1] >= 0xDC00 && text[index + 1] <= 0xDFFF;
            if (pair) {
                value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<char32_t>(text[++index]) - 0xDC00);
            }
        }
        if (IsSurrogate(value) || value > 0x10FFFF) value = kReplacement;
        AppendUtf8(utf8, value);
    }
    return utf8;
}

}  // namespace quorvane
