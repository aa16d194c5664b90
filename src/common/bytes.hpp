// Fixed-width integers read from and written to byte arrays, in either byte
// order, for the file formats (WAV fields are little-endian, MIDI file
// fields big-endian). The caller has checked that the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tamlor::bytes {

// The unsigned value of the `count` (at most 8) bytes at `p`, lowest first.
inline std::uint64_t get_le(const unsigned char* p, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = count; i > 0; --i) v = (v << 8) | p[i - 1];
    return v;
}
// The same, highest byte first.
inline std::uint64_t get_be(const unsigned char* p, std::size_t count) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i) v = (v << 8) | p[i];
    return v;
}
inline std::uint16_t get_le16(const unsigned char* p) { return static_cast<std::uint16_t>(get_le(p, 2)); }
inline std::uint32_t get_le24(const unsigned char* p) { return static_cast<std::uint32_t>(get_le(p, 3)); }
inline std::uint32_t get_le32(const unsigned char* p) { return static_cast<std::uint32_t>(get_le(p, 4)); }
inline std::uint64_t get_le64(const unsigned char* p) { return get_le(p, 8); }

// Writes the low `count` bytes of `v` at `p`, lowest first.
inline void put_le(unsigned char* p, std::uint64_t v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
// The same, highest byte first.
inline void put_be(unsigned char* p, std::uint64_t v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (count - 1 - i)));
}
inline void put_le16(unsigned char* p, std::uint16_t v) { put_le(p, v, 2); }
inline void put_le24(unsigned char* p, std::uint32_t v) { put_le(p, v, 3); }
inline void put_le32(unsigned char* p, std::uint32_t v) { put_le(p, v, 4); }

}  // namespace tamlor::bytes
