#include "audio/wav.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "audio/pcm.hpp"
#include "common/atomic_writer.hpp"
#include "common/errors.hpp"
#include "common/file_system.hpp"

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

// Decodes n samples of format f from p into out; the format's test is made
// once per block, not per sample.
void decode_block(const unsigned char* p, std::size_t n, const Format& f, float* out) {
    if (f.tag == tag_float && f.bits == 32) {
        if constexpr (std::endian::native == std::endian::little) {
            if (n) std::memcpy(out, p, n * 4);
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t bits = get32(p + 4 * i);
                std::memcpy(&out[i], &bits, 4);
            }
        }
        return;
    }
    if (f.tag == tag_float) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t bits = get64(p + 8 * i);
            double v;
            std::memcpy(&v, &bits, 8);
            out[i] = static_cast<float>(v);
        }
        return;
    }
    switch (f.bits) {
        case 8:
            for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(static_cast<int>(p[i]) - 128) / 128.0f;
            return;
        case 16:
            for (std::size_t i = 0; i < n; ++i) out[i] = from_pcm16(static_cast<std::int16_t>(get16(p + 2 * i)));
            return;
        case 24:
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* q = p + 3 * i;
                const std::uint32_t u = static_cast<std::uint32_t>(q[0]) | (static_cast<std::uint32_t>(q[1]) << 8) |
                                        (static_cast<std::uint32_t>(q[2]) << 16);
                const std::int32_t v = static_cast<std::int32_t>(u << 8) >> 8;  // sign-extended
                out[i] = static_cast<float>(static_cast<double>(v) / 8388608.0);
            }
            return;
        default:
            for (std::size_t i = 0; i < n; ++i) {
                out[i] = static_cast<float>(static_cast<double>(static_cast<std::int32_t>(get32(p + 4 * i))) /
                                            2147483648.0);
            }
            return;
    }
}

}  // namespace

// Where the bytes of a WAV file come from: memory, a regular file (whose
// size is known up front), or a pipe or device (read front to back, whose
// end is found by reaching it).
class Source {
public:
    virtual ~Source() = default;
    // Reads up to n bytes into p; fewer only at the end.
    virtual std::size_t read(void* p, std::size_t n) = 0;
    // Skips up to n bytes; fewer only at the end.
    virtual std::uint64_t skip(std::uint64_t n) = 0;
    // Bytes left, when known without reading them.
    virtual std::optional<std::uint64_t> remaining() const = 0;
    // Goes back to `offset` for a second pass; only where remaining() is known.
    virtual void seek(std::uint64_t offset) = 0;
    std::uint64_t position() const { return position_; }
    // Asked between two pieces of a long read, and whenever a wait for the
    // next bytes is interrupted by a signal: throws Interrupted when it
    // answers false.
    void check() const {
        if (go_on && !go_on()) throw Interrupted{};
    }
    std::function<bool()> go_on;

protected:
    std::uint64_t position_ = 0;
};

namespace {

class MemorySource final : public Source {
public:
    MemorySource(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    std::size_t read(void* p, std::size_t n) override {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - position_));
        if (n) std::memcpy(p, bytes_ + position_, n);
        position_ += n;
        return n;
    }
    std::uint64_t skip(std::uint64_t n) override {
        n = std::min<std::uint64_t>(n, size_ - position_);
        position_ += n;
        return n;
    }
    std::optional<std::uint64_t> remaining() const override { return size_ - position_; }
    void seek(std::uint64_t offset) override { position_ = std::min<std::uint64_t>(offset, size_); }

private:
    const unsigned char* bytes_;
    std::size_t size_;
};

class FileSource final : public Source {
public:
    explicit FileSource(const std::string& path) : path_(path) {
        fd_ = file_system::open(path, file_system::Open::read);
        if (fd_ < 0) throw FileError(errno, path);
        file_system::Status st;
        if (!file_system::status(fd_, st)) {
            const int code = errno;
            file_system::close(fd_);
            throw FileError(code, path);
        }
        if (st.kind == file_system::Kind::directory) {
            file_system::close(fd_);
            throw FileError(EISDIR, path);
        }
        if (st.kind == file_system::Kind::regular) size_ = st.size;
    }
    ~FileSource() override { file_system::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t read(void* p, std::size_t n) override {
        std::size_t done = 0;
        while (done < n) {
            const long long r =
                file_system::read(fd_, static_cast<char*>(p) + done, std::min<std::size_t>(n - done, 1 << 30));
            if (r < 0 && errno == EINTR) {
                check();
                continue;
            }
            if (r < 0) throw FileError(errno, path_);
            if (r == 0) break;
            done += static_cast<std::size_t>(r);
        }
        position_ += done;
        return done;
    }
    std::uint64_t skip(std::uint64_t n) override {
        if (size_) {
            n = std::min<std::uint64_t>(n, *size_ - std::min(position_, *size_));
            seek(position_ + n);
            return n;
        }
        unsigned char scrap[1 << 14];
        std::uint64_t done = 0;
        while (done < n) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof scrap));
            const std::size_t got = read(scrap, want);
            done += got;
            if (got < want) break;
            if (done % (std::uint64_t{1} << 20) == 0) check();  // a long skip gives way too
        }
        return done;
    }
    std::optional<std::uint64_t> remaining() const override {
        if (!size_) return std::nullopt;
        return *size_ - std::min(position_, *size_);
    }
    void seek(std::uint64_t offset) override {
        if (!file_system::seek(fd_, offset)) throw FileError(errno, path_);
        position_ = offset;
    }

private:
    std::string path_;
    int fd_ = -1;
    std::optional<std::uint64_t> size_;  // regular files only
};

[[noreturn]] void truncated_chunk(const unsigned char* chunk, std::uint32_t size, std::uint64_t available) {
    invalid("truncated WAV file: the '" + four_cc(chunk) + "' chunk holds " + std::to_string(size) +
            " bytes but the file ends after " + std::to_string(available));
}

// Bytes read between two calls of go_on, and the size of each read.
constexpr std::size_t piece_bytes = std::size_t{1} << 20;

[[noreturn]] void does_not_fit(const std::string& what, std::uint32_t data_size) {
    throw MemoryError(what + "data chunk of " + std::to_string(data_size) + " bytes does not fit in memory");
}

// Writes the n samples' encoding. On a little-endian machine the file's
// layout is the memory's: float samples go out as they lie, 16-bit ones
// through one buffer of converted slices.
void write_samples(AtomicWriter& file, const float* samples, std::size_t n, WavEncoding encoding) {
    constexpr std::size_t slice = 1 << 16;
    if constexpr (std::endian::native == std::endian::little) {
        if (encoding == WavEncoding::float32) {
            file.write(samples, n * sizeof(float));
            return;
        }
    }
    if (std::endian::native == std::endian::little && encoding == WavEncoding::pcm16) {
        std::vector<std::int16_t> buffer(std::min(slice, n));
        for (std::size_t done = 0; done < n; done += slice) {
            const std::size_t k = std::min(slice, n - done);
            to_pcm16(samples + done, k, buffer.data());
            file.write(buffer.data(), k * sizeof(std::int16_t));
        }
        return;
    }
    std::vector<unsigned char> buffer(std::min(slice, n) * bytes_per_sample(encoding));
    for (std::size_t done = 0; done < n; done += slice) {
        const std::size_t k = std::min(slice, n - done);
        encode_samples(samples + done, k, encoding, buffer.data());
        file.write(buffer.data(), k * bytes_per_sample(encoding));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// WavReader

WavReader::WavReader(const std::string& path, std::function<bool()> go_on) : where_(path + ": ") {
    in_ = std::make_unique<FileSource>(path);
    in_->go_on = std::move(go_on);
    try {
        scan();
    } catch (const ValueError& e) {
        throw ValueError(where_ + e.what());
    }
}

WavReader::WavReader(const unsigned char* bytes, std::size_t size) : in_(std::make_unique<MemorySource>(bytes, size)) {
    scan();
}

WavReader::~WavReader() = default;

// The header, then the chunks one by one until both the fmt and the data
// chunk are found. Nothing is read (or allocated) beyond what a chunk
// declares and the source holds; a source that cannot go back keeps the data
// chunk's bytes (as they arrive) when the fmt chunk may still follow.
void WavReader::scan() {
    Source& in = *in_;
    unsigned char head[12];
    const std::size_t got = in.read(head, sizeof head);
    if (got < 12) invalid("not a WAV file: " + std::to_string(got) + " bytes are too few for a RIFF header");
    if (std::memcmp(head, "RIFF", 4) != 0) {
        if (std::memcmp(head, "RIFX", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) {
            invalid("unsupported WAV file: '" + four_cc(head) + "' files cannot be read, only 'RIFF'");
        }
        invalid("not a WAV file: it starts with '" + four_cc(head) + "', not 'RIFF'");
    }
    if (std::memcmp(head + 8, "WAVE", 4) != 0) {
        invalid("not a WAV file: a RIFF file of type '" + four_cc(head + 8) + "', not 'WAVE'");
    }
    // The fmt chunk's first 40 bytes are all a format needs.
    unsigned char fmt[40] = {};
    std::uint32_t fmt_size = 0;
    bool have_fmt = false;
    bool have_data = false;
    seekable_ = in.remaining().has_value();
    for (std::uint64_t chunks = 1; !(have_fmt && have_data); ++chunks) {
        // A file of many empty chunks (or an endless pipe of them) gives way too.
        if (chunks % 4096 == 0) in.check();
        unsigned char chunk[8];
        if (in.read(chunk, 8) < 8) break;  // a partial chunk header ends the file
        const std::uint32_t size = get32(chunk + 4);
        if (const auto left = in.remaining(); left && size > *left) truncated_chunk(chunk, size, *left);
        std::uint64_t taken = 0;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !have_fmt) {
            const std::size_t want = std::min<std::size_t>(size, sizeof fmt);
            taken = in.read(fmt, want);
            if (taken == want) taken += in.skip(size - want);
            fmt_size = size;
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !have_data) {
            data_size_ = size;
            data_offset_ = in.position();
            have_data = true;
            taken = seekable_ ? in.skip(size) : keep_data(size);
        } else {
            taken = in.skip(size);
        }
        if (taken < size) truncated_chunk(chunk, size, taken);
        if (size & 1u) in.skip(1);
    }
    if (!have_fmt) invalid(have_data ? "invalid WAV file: no fmt chunk" : "truncated WAV file: no fmt chunk");
    const Format f = parse_format(fmt, fmt_size);
    if (!have_data) invalid("truncated WAV file: no data chunk");
    if (data_size_ % f.block_align != 0) {
        invalid("truncated WAV file: the data ends inside a frame (" + std::to_string(data_size_) +
                " bytes in frames of " + std::to_string(f.block_align) + ")");
    }
    tag_ = f.tag;
    bits_ = f.bits;
    channels_ = f.channels;
    sample_rate_ = f.sample_rate;
}

std::uint64_t WavReader::keep_data(std::uint32_t size) {
    // Grown as the bytes arrive, never reserved from the claim.
    std::uint64_t taken = 0;
    while (taken < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size - taken, piece_bytes));
        try {
            kept_.resize(static_cast<std::size_t>(taken) + want);
        } catch (const std::bad_alloc&) {
            does_not_fit(where_, size);
        }
        const std::size_t n = in_->read(kept_.data() + taken, want);
        taken += n;
        if (n < want) break;
        in_->check();
    }
    kept_.resize(static_cast<std::size_t>(taken));
    return taken;
}

void WavReader::read_into(float* out) {
    try {
        decode(out);
    } catch (const ValueError& e) {
        throw ValueError(where_ + e.what());
    }
}

void WavReader::decode(float* out) {
    const Format f{tag_, channels_, sample_rate_, 0, bits_};
    const std::size_t width = bits_ / 8;
    const std::size_t count = samples();
    if (!seekable_) {
        decode_block(kept_.data(), count, f, out);
        return;
    }
    in_->seek(data_offset_);
    // A piece of whole samples at a time; 32-bit float samples are read
    // straight into place.
    const std::size_t per_piece = piece_bytes / width;
    const bool direct = std::endian::native == std::endian::little && tag_ == tag_float && bits_ == 32;
    std::vector<unsigned char> scratch(direct ? 0 : std::min(count, per_piece) * width);
    for (std::size_t done = 0; done < count; done += per_piece) {
        const std::size_t n = std::min(per_piece, count - done);
        unsigned char* into = direct ? reinterpret_cast<unsigned char*>(out + done) : scratch.data();
        // Fewer bytes than the size checked at the start: the file shrank.
        if (in_->read(into, n * width) < n * width) {
            invalid("truncated WAV file: the data chunk ended while it was being read");
        }
        if (!direct) decode_block(scratch.data(), n, f, out + done);
        if (done + n < count) in_->check();
    }
}

AudioBuffer WavReader::read() {
    std::vector<float> out;
    try {
        out.resize(samples());
    } catch (const std::bad_alloc&) {
        does_not_fit(where_, data_size_);
    }
    read_into(out.data());
    return AudioBuffer(std::move(out), sample_rate_, channels_);
}


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
    AtomicWriter file(path);
    file.write(head, header_size(encoding));
    write_samples(file, samples, count, encoding);
    file.commit();
}

AudioBuffer decode_wav(const unsigned char* bytes, std::size_t size) {
    return WavReader(bytes, size).read();
}

AudioBuffer read_wav(const std::string& path, std::function<bool()> go_on) {
    return WavReader(path, std::move(go_on)).read();
}

}  // namespace tamlor::audio
