#include "device_support/text.hpp"

#include <cstdint>

namespace tamlor::devices {
namespace {

constexpr char32_t replacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (is_high(u) && i + 1 < units.size() && is_low(units[i + 1])) {
            const char32_t c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                               (static_cast<char32_t>(units[i + 1]) - 0xDC00);
            append_utf8(out, c);
            ++i;
        } else if (is_high(u) || is_low(u)) {
            append_utf8(out, replacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = byte(i);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte, which
        // rules out overlong forms, surrogates and values past U+10FFFF.
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;
        char32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t used = 1;
        bool complete = length != 0;
        for (; complete && used < length; ++used) {
            if (i + used >= bytes.size()) {
                complete = false;
                break;
            }
            const std::uint8_t b = byte(i + used);
            const std::uint8_t lo = used == 1 ? low : 0x80;
            const std::uint8_t hi = used == 1 ? high : 0xBF;
            if (b < lo || b > hi) {
                complete = false;
                break;
            }
            c = (c << 6) | (b & 0x3F);
        }
        append_utf16(out, complete ? c : replacement);
        i += used;  // a malformed sequence is replaced as one unit up to the bad byte
    }
    return out;
}

std::string sanitize_utf8(std::string_view bytes) { return utf16_to_utf8(utf8_to_utf16(bytes)); }

}  // namespace tamlor::devices
