// Text conversion for names that come from the platform's device services.
// Device names arrive as UTF-16 (Windows) or as bytes that should be UTF-8
// (Linux); Python needs well-formed UTF-8, so anything malformed becomes
// U+FFFD instead of failing the call.
#pragma once

#include <string>
#include <string_view>

namespace tamlor::devices {

// UTF-16 units to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view units);

// UTF-8 bytes to UTF-16; each maximal malformed subsequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view bytes);

// The bytes as well-formed UTF-8 (malformed sequences replaced by U+FFFD).
std::string sanitize_utf8(std::string_view bytes);

}  // namespace tamlor::devices
