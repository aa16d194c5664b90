// WAV encoding and decoding: exact header bytes, round trips, the sample
// conversion, and every kind of file the reader must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "audio/pcm.hpp"
#include "audio/wav.hpp"
#include "common/errors.hpp"

namespace tamlor::audio {
namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }
void put_le(Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A file built by hand: RIFF header, then the chunks given.
Bytes riff(const std::string& form, const std::vector<std::pair<std::string, Bytes>>& chunks) {
    Bytes body;
    put(body, form);
    for (const auto& [id, data] : chunks) {
        put(body, id);
        put_le(body, data.size(), 4);
        body.insert(body.end(), data.begin(), data.end());
        if (data.size() % 2) body.push_back(0);
    }
    Bytes file;
    put(file, "RIFF");
    put_le(file, body.size(), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

Bytes fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    Bytes b;
    put_le(b, tag, 2);
    put_le(b, channels, 2);
    put_le(b, rate, 4);
    put_le(b, std::uint64_t{rate} * channels * (bits / 8), 4);
    put_le(b, channels * (bits / 8), 2);
    put_le(b, bits, 2);
    return b;
}

std::string error_of(const Bytes& file) {
    try {
        decode_wav(file.data(), file.size());
    } catch (const ValueError& e) {
        return e.what();
    }
    return "no error";
}

std::uint32_t bits_of(float x) {
    std::uint32_t u;
    std::memcpy(&u, &x, 4);
    return u;
}

TEST(Pcm16, ScalesClipsAndRoundsTiesToEven) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> cases[] = {
        {0.0f, 0},         {-0.0f, 0},       {1.0f, 32767},       {-1.0f, -32768},    {1.5f, 32767},
        {-1.5f, -32768},   {inf, 32767},     {-inf, -32768},      {std::nanf(""), 0}, {0.5f, 16384},
        {0.5f / 32768, 0}, {1.5f / 32768, 2}, {2.5f / 32768, 2}, {-2.5f / 32768, -2}, {32766.5f / 32768, 32766},
        {32767.5f / 32768, 32767}, {0.99999994f, 32767}, {-0.99999994f, -32768},
    };
    for (const auto& [x, expected] : cases) EXPECT_EQ(to_pcm16(x), expected) << x;
    for (int v = -32768; v <= 32767; ++v) ASSERT_EQ(to_pcm16(from_pcm16(static_cast<std::int16_t>(v))), v);
}

TEST(Pcm16, BlockConversionMatchesTheSampleConversion) {
    // The block form has a faster road for runs of eight; every kind of value
    // must come out of it as from the one-sample form, at every offset.
    std::mt19937 rng(3);
    std::vector<float> in(4099);
    std::uniform_real_distribution<float> level(-1.1f, 1.1f);
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (i % 3 == 0) {
            const std::uint32_t bits = rng();
            std::memcpy(&in[i], &bits, 4);
        } else {
            in[i] = i % 3 == 1 ? level(rng) : (static_cast<float>(rng() % 65536) - 32768.5f) / 32768.0f;
        }
    }
    in[0] = std::nanf("");
    in[1] = -std::numeric_limits<float>::infinity();
    in[2] = std::numeric_limits<float>::infinity();
    in[3] = 32767.5f / 32768;
    for (std::size_t offset : {0, 1, 5}) {
        std::vector<std::int16_t> out(in.size() - offset);
        to_pcm16(in.data() + offset, out.size(), out.data());
        for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], to_pcm16(in[offset + i])) << offset + i;
    }
}

TEST(WavWrite, Pcm16HeaderIsTheCanonical44Bytes) {
    const float samples[] = {0.5f, -0.5f, 1.0f, -1.0f};
    const Bytes file = encode_wav(samples, 4, 22050, 2, WavEncoding::pcm16);
    Bytes expected;
    put(expected, "RIFF");
    put_le(expected, 36 + 8, 4);
    put(expected, "WAVEfmt ");
    put_le(expected, 16, 4);
    const Bytes f = fmt(1, 2, 22050, 16);
    expected.insert(expected.end(), f.begin(), f.end());
    put(expected, "data");
    put_le(expected, 8, 4);
    for (int v : {16384, -16384, 32767, -32768}) put_le(expected, static_cast<std::uint16_t>(v), 2);
    EXPECT_EQ(file, expected);
}

TEST(WavWrite, RefusesWhatAFileCannotHold) {
    const float s[4] = {};
    EXPECT_THROW(encode_wav(s, 4, 44100, 0, WavEncoding::pcm16), ValueError);
    EXPECT_THROW(encode_wav(s, 3, 44100, 3, WavEncoding::pcm16), ValueError);
    EXPECT_THROW(encode_wav(s, 3, 44100, 2, WavEncoding::pcm16), ValueError);
    EXPECT_THROW(encode_wav(s, 4, 0, 2, WavEncoding::float32), ValueError);
    EXPECT_THROW(encode_wav(s, std::size_t{1} << 31, 44100, 1, WavEncoding::pcm16), ValueError);  // 4 GiB
    EXPECT_THROW(encode_wav(s, 2, 4000000000u, 2, WavEncoding::float32), ValueError);  // bytes per second
    EXPECT_THROW(wav_encoding("pcm8"), ValueError);
    EXPECT_EQ(encode_wav(s, 0, 1, 1, WavEncoding::float32).size(), 58u);  // an empty file is a file
}

TEST(WavWrite, Pcm24IsThreeBytesPerSampleAndReadsBack) {
    const float s[4] = {1.0f, -1.0f, 0.5f, -0.25f};
    EXPECT_EQ(wav_encoding("pcm24"), WavEncoding::pcm24);
    const std::vector<unsigned char> file = encode_wav(s, 4, 8000, 2, WavEncoding::pcm24);
    ASSERT_EQ(file.size(), 44u + 12u);
    EXPECT_EQ(file[34], 24);  // bits per sample
    EXPECT_EQ(std::vector<unsigned char>(file.begin() + 44, file.begin() + 50),
              (std::vector<unsigned char>{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
    const AudioBuffer back = decode_wav(file.data(), file.size());
    EXPECT_EQ(back.sample_at(0, 1), -1.0f);
    EXPECT_EQ(back.sample_at(1, 0), 0.5f);
    EXPECT_EQ(back.sample_at(1, 1), -0.25f);
}

TEST(WavRoundTrip, FloatKeepsEveryBitAndPcmEveryValue) {
    std::mt19937 rng(7);
    std::vector<float> samples(2 * 1001);
    for (float& x : samples) {
        std::uint32_t u = rng();
        std::memcpy(&x, &u, 4);  // any bit pattern: NaNs, infinities, subnormals
    }
    for (std::uint16_t channels : {1, 2}) {
        const Bytes file = encode_wav(samples.data(), samples.size(), 96000, channels, WavEncoding::float32);
        const AudioBuffer b = decode_wav(file.data(), file.size());
        EXPECT_EQ(b.sample_rate(), 96000u);
        EXPECT_EQ(b.channels(), channels);
        ASSERT_EQ(b.size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(bits_of(b.data()[i]), bits_of(samples[i])) << i;

        std::uniform_real_distribution<float> level(-1.2f, 1.2f);
        for (float& x : samples) x = level(rng);
        const Bytes pcm = encode_wav(samples.data(), samples.size(), 7, channels, WavEncoding::pcm16);
        const AudioBuffer p = decode_wav(pcm.data(), pcm.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_EQ(to_pcm16(p.data()[i]), to_pcm16(samples[i]));
            ASSERT_EQ(p.data()[i], from_pcm16(to_pcm16(samples[i])));
        }
    }
}

TEST(WavRead, OtherEncodingsAndExtraChunks) {
    Bytes pcm8, pcm24, pcm32, f64;
    for (int v : {0, 128, 255}) pcm8.push_back(static_cast<unsigned char>(v));
    for (std::int32_t v : {-8388608, 4194304, 1}) put_le(pcm24, static_cast<std::uint32_t>(v), 3);
    for (std::int64_t v : {INT32_MIN, 1 << 30, -1}) put_le(pcm32, static_cast<std::uint32_t>(v), 4);
    for (double v : {0.25, -2.0, 1e-300}) {
        std::uint64_t u;
        std::memcpy(&u, &v, 8);
        put_le(f64, u, 8);
    }
    const std::pair<Bytes, std::vector<float>> cases[] = {
        {riff("WAVE", {{"fmt ", fmt(1, 1, 8000, 8)}, {"data", pcm8}}), {-1.0f, 0.0f, 127.0f / 128}},
        {riff("WAVE", {{"fmt ", fmt(1, 3, 8000, 24)}, {"data", pcm24}}), {-1.0f, 0.5f, 1.0f / 8388608}},
        {riff("WAVE", {{"fmt ", fmt(1, 1, 8000, 32)}, {"data", pcm32}}), {-1.0f, 0.5f, -1.0f / 2147483648.0f}},
        {riff("WAVE", {{"LIST", Bytes(5, 'x')}, {"fmt ", fmt(3, 1, 8000, 64)}, {"junk", {}}, {"data", f64}}),
         {0.25f, -2.0f, 0.0f}},
    };
    for (const auto& [file, expected] : cases) {
        const AudioBuffer b = decode_wav(file.data(), file.size());
        EXPECT_EQ(std::vector<float>(b.data(), b.data() + b.size()), expected);
    }

    // The extensible format names PCM or float by a sub-format GUID.
    Bytes ext = fmt(0xFFFE, 2, 44100, 16);
    put_le(ext, 22, 2);
    put_le(ext, 16, 2);
    put_le(ext, 3, 4);
    const unsigned char guid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    ext.insert(ext.end(), guid, guid + 16);
    Bytes data;
    for (int v : {-32768, 16384}) put_le(data, static_cast<std::uint16_t>(v), 2);
    const Bytes file = riff("WAVE", {{"fmt ", ext}, {"data", data}});
    const AudioBuffer b = decode_wav(file.data(), file.size());
    EXPECT_EQ(b.channels(), 2);
    EXPECT_EQ(b.frames(), 1u);
    EXPECT_EQ(b.sample_at(0, 1), 0.5f);
}

TEST(WavRead, RefusesFilesItCannotReadWithTheReason) {
    const Bytes data(8, 0);
    const Bytes good = riff("WAVE", {{"fmt ", fmt(1, 2, 44100, 16)}, {"data", data}});
    ASSERT_EQ(error_of(good), "no error");

    Bytes adpcm = fmt(2, 1, 44100, 4);
    Bytes mp3 = fmt(0x55, 2, 44100, 0);
    Bytes ext_unknown = fmt(0xFFFE, 2, 44100, 16);
    put_le(ext_unknown, 22, 2);
    put_le(ext_unknown, 16, 2);
    put_le(ext_unknown, 3, 4);
    ext_unknown.insert(ext_unknown.end(), 16, 0x42);
    Bytes cut = good;
    cut.resize(cut.size() - 1);
    Bytes rifx = good;
    std::memcpy(rifx.data(), "RIFX", 4);

    const std::pair<Bytes, std::string> cases[] = {
        {{}, "not a WAV file: 0 bytes are too few for a RIFF header"},
        {Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0}, "not a WAV file: it starts with 'ID3\\x04', not 'RIFF'"},
        {riff("AVI ", {{"data", data}}), "not a WAV file: a RIFF file of type 'AVI ', not 'WAVE'"},
        {rifx, "unsupported WAV file: 'RIFX' files cannot be read, only 'RIFF'"},
        {riff("WAVE", {{"fmt ", adpcm}, {"data", data}}),
         "unsupported WAV encoding (format tag 0x0002): only uncompressed PCM and IEEE float files can be read"},
        {riff("WAVE", {{"fmt ", mp3}, {"data", data}}),
         "unsupported WAV encoding (format tag 0x0055): only uncompressed PCM and IEEE float files can be read"},
        {riff("WAVE", {{"fmt ", ext_unknown}, {"data", data}}),
         "unsupported WAV encoding (format tag 0xFFFE): only uncompressed PCM and IEEE float files can be read"},
        {riff("WAVE", {{"fmt ", fmt(1, 2, 44100, 12)}, {"data", data}}), "unsupported WAV encoding: 12-bit PCM"},
        {riff("WAVE", {{"fmt ", fmt(3, 2, 44100, 16)}, {"data", data}}), "unsupported WAV encoding: 16-bit float"},
        {riff("WAVE", {{"fmt ", fmt(1, 0, 44100, 16)}, {"data", data}}), "invalid WAV file: zero channels"},
        {riff("WAVE", {{"fmt ", fmt(1, 2, 0, 16)}, {"data", data}}), "invalid WAV file: a sample rate of 0"},
        {riff("WAVE", {{"fmt ", Bytes(14, 1)}, {"data", data}}),
         "invalid WAV file: the fmt chunk is 14 bytes, not at least 16"},
        {riff("WAVE", {{"data", data}}), "invalid WAV file: no fmt chunk"},
        {riff("WAVE", {{"fmt ", fmt(1, 2, 44100, 16)}}), "truncated WAV file: no data chunk"},
        {riff("WAVE", {}), "truncated WAV file: no fmt chunk"},
        {cut, "truncated WAV file: the 'data' chunk holds 8 bytes but the file ends after 7"},
        {riff("WAVE", {{"fmt ", fmt(1, 2, 44100, 16)}, {"data", Bytes(6, 0)}}),
         "truncated WAV file: the data ends inside a frame (6 bytes in frames of 4)"},
    };
    for (const auto& [file, message] : cases) EXPECT_EQ(error_of(file), message);

    // Every shorter prefix of a good file is refused, none read wrongly.
    for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(error_of(Bytes(good.begin(), good.begin() + n)), "no error") << n;
}

}  // namespace
}  // namespace tamlor::audio
