#include "audio/wav.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "audio/pcm.hpp"
#include "common/errors.hpp"

namespace tamlor::audio {
namespace {

constexpr std::uint16_t tag_pcm = 1;
constexpr std::uint16_t tag_float = 3;
constexpr std::uint16_t tag_extensible = 0xFFFE;
// Bytes 2..15 of the extensible format's sub-format GUID; bytes 0..1 hold
// the format tag.
constexpr unsigned char guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// ---------------------------------------------------------------------------
// Little-endian fields

void put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const unsigned char* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

std::string four_cc(const unsigned char* p) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            s += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            s += hex;
        }
    }
    return s;
}

// ---------------------------------------------------------------------------
// Writing

std::size_t bytes_per_sample(WavEncoding e) {
    return e == WavEncoding::pcm16 ? 2 : (e == WavEncoding::pcm24 ? 3 : 4);
}

std::size_t header_size(WavEncoding e) { return e == WavEncoding::float32 ? 58 : 44; }

// Checks what encode_wav and write_wav promise to refuse; the data size.
std::uint32_t checked_data_size(std::size_t count, std::uint32_t sample_rate, std::uint16_t channels,
                                WavEncoding encoding) {
    if (channels != 1 && channels != 2) {
        throw ValueError("channels must be 1 or 2, not " + std::to_string(channels));
    }
    if (sample_rate == 0) throw ValueError("sample_rate must be at least 1");
    if (count % channels != 0) {
        throw ValueError("sample count " + std::to_string(count) + " is not a multiple of " +
                         std::to_string(channels) + " channels");
    }
    const std::uint64_t limit = std::numeric_limits<std::uint32_t>::max() - header_size(encoding);
    const std::size_t width = bytes_per_sample(encoding);
    if (count > limit / width || static_cast<std::uint64_t>(sample_rate) * channels * width > UINT32_MAX) {
        throw ValueError("too much audio for a WAV file (at most 4 GiB of data and 4 GiB per second)");
    }
    return static_cast<std::uint32_t>(count * width);
}

void header(unsigned char* h, std::uint32_t data_size, std::uint32_t sample_rate, std::uint16_t channels,
            WavEncoding encoding) {
    const bool pcm = encoding != WavEncoding::float32;
    const auto width = static_cast<std::uint16_t>(bytes_per_sample(encoding));
    const auto block = static_cast<std::uint16_t>(channels * width);
    const std::size_t size = header_size(encoding);
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, static_cast<std::uint32_t>(size - 8 + data_size));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, pcm ? 16 : 18);
    put16(h + 20, pcm ? tag_pcm : tag_float);
    put16(h + 22, channels);
    put32(h + 24, sample_rate);
    put32(h + 28, sample_rate * block);
    put16(h + 32, block);
    put16(h + 34, static_cast<std::uint16_t>(8 * width));
    unsigned char* data = h + 36;
    if (!pcm) {
        put16(h + 36, 0);  // no extension
        std::memcpy(h + 38, "fact", 4);
        put32(h + 42, 4);
        put32(h + 46, data_size / block);  // frames
        data = h + 50;
    }
    std::memcpy(data, "data", 4);
    put32(data + 4, data_size);
}

// Encodes n samples into out (n x bytes_per_sample bytes).
void encode_samples(const float* in, std::size_t n, WavEncoding encoding, unsigned char* out) {
    if (encoding == WavEncoding::pcm16) {
        for (std::size_t i = 0; i < n; ++i) put16(out + 2 * i, static_cast<std::uint16_t>(to_pcm16(in[i])));
    } else if (encoding == WavEncoding::pcm24) {
        for (std::size_t i = 0; i < n; ++i) {
            const auto v = static_cast<std::uint32_t>(to_pcm24(in[i]));
            out[3 * i] = static_cast<unsigned char>(v);
            out[3 * i + 1] = static_cast<unsigned char>(v >> 8);
            out[3 * i + 2] = static_cast<unsigned char>(v >> 16);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t bits;
            std::memcpy(&bits, &in[i], 4);
            put32(out + 4 * i, bits);
        }
    }
}

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

// ---------------------------------------------------------------------------
// Reading

[[noreturn]] void invalid(const std::string& why) { throw ValueError(why); }

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits = 0;
};

Format parse_format(const unsigned char* p, std::uint32_t size) {
    if (size < 16) invalid("invalid WAV file: the fmt chunk is " + std::to_string(size) + " bytes, not at least 16");
    Format f;
    f.tag = get16(p);
    f.channels = get16(p + 2);
    f.sample_rate = get32(p + 4);
    f.block_align = get16(p + 12);
    f.bits = get16(p + 14);
    if (f.tag == tag_extensible) {
        if (size < 40 || get16(p + 16) < 22) invalid("invalid WAV file: the extensible fmt chunk is too short");
        const unsigned char* guid = p + 24;
        f.tag = std::memcmp(guid + 2, guid_tail, sizeof guid_tail) == 0 ? get16(guid) : 0;
    }
    if (f.tag != tag_pcm && f.tag != tag_float) {
        char tag[8];
        std::snprintf(tag, sizeof tag, "0x%04X", get16(p));
        invalid("unsupported WAV encoding (format tag " + std::string(tag) +
                "): only uncompressed PCM and IEEE float files can be read");
    }
    const bool known = f.tag == tag_pcm ? (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32)
                                        : (f.bits == 32 || f.bits == 64);
    if (!known) {
        invalid(std::string("unsupported WAV encoding: ") + std::to_string(f.bits) + "-bit " +
                (f.tag == tag_pcm ? "PCM" : "float"));
    }
    if (f.channels == 0) invalid("invalid WAV file: zero channels");
    if (f.sample_rate == 0) invalid("invalid WAV file: a sample rate of 0");
    if (f.block_align != f.channels * (f.bits / 8)) {
        invalid("invalid WAV file: block align " + std::to_string(f.block_align) + " for " +
                std::to_string(f.channels) + " channels of " + std::to_string(f.bits) + " bits");
    }
    return f;
}

float decode_one(const unsigned char* p, const Format& f) {
    if (f.tag == tag_float) {
        if (f.bits == 32) {
            const std::uint32_t bits = get32(p);
            float v;
            std::memcpy(&v, &bits, 4);
            return v;
        }
        const std::uint64_t bits = get64(p);
        double v;
        std::memcpy(&v, &bits, 8);
        return static_cast<float>(v);
    }
    switch (f.bits) {
        case 8:
            return static_cast<float>(static_cast<int>(p[0]) - 128) / 128.0f;
        case 16:
            return from_pcm16(static_cast<std::int16_t>(get16(p)));
        case 24: {
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16);
            const std::int32_t v = static_cast<std::int32_t>(u << 8) >> 8;  // sign-extended
            return static_cast<float>(static_cast<double>(v) / 8388608.0);
        }
        default:
            return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(get32(p))) / 2147483648.0);
    }
}

// Writes the n samples' encoding to `file`; false when a write fails. On a
// little-endian machine the file's layout is the memory's: float samples go
// out as they lie, 16-bit ones through one buffer of converted slices.
bool write_samples(std::FILE* file, const float* samples, std::size_t n, WavEncoding encoding) {
    constexpr std::size_t slice = 1 << 16;
    if constexpr (std::endian::native == std::endian::little) {
        if (encoding == WavEncoding::float32) return std::fwrite(samples, sizeof(float), n, file) == n;
    }
    if (std::endian::native == std::endian::little && encoding == WavEncoding::pcm16) {
        std::vector<std::int16_t> buffer(std::min(slice, n));
        for (std::size_t done = 0; done < n; done += slice) {
            const std::size_t k = std::min(slice, n - done);
            to_pcm16(samples + done, k, buffer.data());
            if (std::fwrite(buffer.data(), sizeof(std::int16_t), k, file) != k) return false;
        }
        return true;
    }
    std::vector<unsigned char> buffer(std::min(slice, n) * bytes_per_sample(encoding));
    for (std::size_t done = 0; done < n; done += slice) {
        const std::size_t k = std::min(slice, n - done);
        encode_samples(samples + done, k, encoding, buffer.data());
        if (std::fwrite(buffer.data(), bytes_per_sample(encoding), k, file) != k) return false;
    }
    return true;
}

}  // namespace

WavEncoding wav_encoding(std::string_view name) {
    if (name == "pcm16") return WavEncoding::pcm16;
    if (name == "pcm24") return WavEncoding::pcm24;
    if (name == "float32") return WavEncoding::float32;
    throw ValueError("encoding must be 'pcm16', 'pcm24' or 'float32', not '" + std::string(name) + "'");
}

std::vector<unsigned char> encode_wav(const float* samples, std::size_t count, std::uint32_t sample_rate,
                                      std::uint16_t channels, WavEncoding encoding) {
    const std::uint32_t data_size = checked_data_size(count, sample_rate, channels, encoding);
    std::vector<unsigned char> out(header_size(encoding) + data_size);
    header(out.data(), data_size, sample_rate, channels, encoding);
    encode_samples(samples, count, encoding, out.data() + header_size(encoding));
    return out;
}

void write_wav(const std::string& path, const float* samples, std::size_t count, std::uint32_t sample_rate,
               std::uint16_t channels, WavEncoding encoding) {
    const std::uint32_t data_size = checked_data_size(count, sample_rate, channels, encoding);
    unsigned char head[58];
    header(head, data_size, sample_rate, channels, encoding);
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) throw FileError(errno, path);
    bool ok = std::fwrite(head, 1, header_size(encoding), file.get()) == header_size(encoding) &&
              write_samples(file.get(), samples, count, encoding);
    int code = ok ? 0 : errno;
    if (std::fclose(file.release()) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        std::remove(path.c_str());
        throw FileError(code ? code : EIO, path);
    }
}

AudioBuffer decode_wav(const unsigned char* bytes, std::size_t size) {
    if (size < 12) invalid("not a WAV file: " + std::to_string(size) + " bytes are too few for a RIFF header");
    if (std::memcmp(bytes, "RIFF", 4) != 0) {
        if (std::memcmp(bytes, "RIFX", 4) == 0 || std::memcmp(bytes, "RF64", 4) == 0) {
            invalid("unsupported WAV file: '" + four_cc(bytes) + "' files cannot be read, only 'RIFF'");
        }
        invalid("not a WAV file: it starts with '" + four_cc(bytes) + "', not 'RIFF'");
    }
    if (std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        invalid("not a WAV file: a RIFF file of type '" + four_cc(bytes + 8) + "', not 'WAVE'");
    }
    const unsigned char* fmt = nullptr;
    std::uint32_t fmt_size = 0;
    const unsigned char* data = nullptr;
    std::uint32_t data_size = 0;
    std::size_t at = 12;
    while (size - at >= 8 && !(fmt && data)) {
        const unsigned char* chunk = bytes + at;
        const std::uint32_t chunk_size = get32(chunk + 4);
        if (chunk_size > size - at - 8) {
            invalid("truncated WAV file: the '" + four_cc(chunk) + "' chunk holds " + std::to_string(chunk_size) +
                    " bytes but the file ends after " + std::to_string(size - at - 8));
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !fmt) {
            fmt = chunk + 8;
            fmt_size = chunk_size;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !data) {
            data = chunk + 8;
            data_size = chunk_size;
        }
        at += 8 + static_cast<std::size_t>(chunk_size) + (chunk_size & 1u);
        at = std::min(at, size);
    }
    if (!fmt) invalid(data ? "invalid WAV file: no fmt chunk" : "truncated WAV file: no fmt chunk");
    const Format f = parse_format(fmt, fmt_size);
    if (!data) invalid("truncated WAV file: no data chunk");
    if (data_size % f.block_align != 0) {
        invalid("truncated WAV file: the data ends inside a frame (" + std::to_string(data_size) +
                " bytes in frames of " + std::to_string(f.block_align) + ")");
    }
    const std::size_t width = f.bits / 8;
    std::vector<float> samples(data_size / width);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = decode_one(data + i * width, f);
    return AudioBuffer(std::move(samples), f.sample_rate, f.channels);
}

AudioBuffer read_wav(const std::string& path) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) throw FileError(errno, path);
    std::vector<unsigned char> bytes;
    unsigned char block[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, file.get());
        bytes.insert(bytes.end(), block, block + n);
        if (n < sizeof block) break;
    }
    if (std::ferror(file.get())) throw FileError(errno ? errno : EIO, path);
    try {
        return decode_wav(bytes.data(), bytes.size());
    } catch (const ValueError& e) {
        throw ValueError(path + ": " + e.what());
    }
}

}  // namespace tamlor::audio
