// WAV files: interleaved 32-bit float samples to and from RIFF/WAVE.
//
// Written files hold a "fmt " chunk and a "data" chunk, little-endian, in one
// of three encodings: 16-bit PCM (through to_pcm16: clipped, rounded), 24-bit
// PCM (to_pcm24, alike) or 32-bit IEEE float (the samples bit for bit, with the "fact" chunk such files
// carry). Read files may be PCM of 8, 16, 24 or 32 bits or IEEE float of 32
// or 64 bits, plain or in the extensible format, with any channel count;
// other chunks are skipped. PCM is scaled to -1..1 by 2^(bits-1) (8-bit data
// is unsigned around 128); float data is taken as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_buffer.hpp"

namespace tamlor::audio {

enum class WavEncoding { pcm16, float32, pcm24 };

// "pcm16", "pcm24" or "float32"; anything else is a ValueError.
WavEncoding wav_encoding(std::string_view name);

// The whole file for `count` interleaved samples. ValueError when the file
// cannot describe them: channels other than 1 or 2, a sample rate of 0, a
// count that is not a multiple of `channels`, or more than 4 GiB of data.
std::vector<unsigned char> encode_wav(const float* samples, std::size_t count, std::uint32_t sample_rate,
                                      std::uint16_t channels, WavEncoding encoding);

// Writes the file encode_wav describes to `path`, converting a slice at a
// time, through AtomicWriter: the arguments are checked before anything is
// opened, and a write that fails (FileError) leaves what was at `path` as
// it was.
void write_wav(const std::string& path, const float* samples, std::size_t count, std::uint32_t sample_rate,
               std::uint16_t channels, WavEncoding encoding);

class Source;  // where a reader's bytes come from

// A WAV file read up to its samples: the header first, then the chunks it
// declares, never more than the file holds (a chunk claiming more is a
// truncated file) and never a byte beyond what a chunk declares. A regular
// file is read where it lies; a pipe or a device front to back, a bounded
// piece at a time. Errors as read_wav gives them; `go_on` (when given) is
// asked between two pieces of a long read and when a wait for a pipe is
// interrupted by a signal, and Interrupted thrown when it answers false.
class WavReader {
public:
    explicit WavReader(const std::string& path, std::function<bool()> go_on = {});
    WavReader(const unsigned char* bytes, std::size_t size);
    ~WavReader();
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    std::uint32_t sample_rate() const { return sample_rate_; }
    std::uint16_t channels() const { return channels_; }
    std::size_t frames() const { return samples() / channels_; }
    // frames x channels.
    std::size_t samples() const { return data_size_ / (bits_ / 8); }

    // Decodes every sample, interleaved, into out[0..samples()), a piece at
    // a time. Call once.
    void read_into(float* out);
    // The samples in a new buffer; MemoryError "{path}: data chunk of N
    // bytes does not fit in memory" when they cannot be held.
    AudioBuffer read();

private:
    void scan();
    std::uint64_t keep_data(std::uint32_t size);
    void decode(float* out);

    std::unique_ptr<Source> in_;
    std::string where_;  // "{path}: ", the prefix of error texts
    bool seekable_ = false;
    std::uint16_t tag_ = 0;
    std::uint16_t bits_ = 8;
    std::uint16_t channels_ = 1;
    std::uint32_t sample_rate_ = 0;
    std::uint32_t data_size_ = 0;
    std::uint64_t data_offset_ = 0;
    std::vector<unsigned char> kept_;  // the data chunk of a source that cannot go back
};

// The samples of a WAV file held in memory. ValueError with the reason for
// anything that is not a WAV file this reader understands (no RIFF/WAVE
// header, a compressed or unknown encoding, zero channels, a missing chunk)
// and for a file cut short (a chunk or a frame running past its end).
AudioBuffer decode_wav(const unsigned char* bytes, std::size_t size);

// decode_wav of the file at `path`, read header first and then only what
// its chunks declare and the file holds, a piece at a time; pipes and
// devices are read front to back in bounded pieces. FileError when it
// cannot be read; the ValueError's text prefixed with the path; MemoryError
// "{path}: data chunk of N bytes does not fit in memory". `go_on` as for
// WavReader.
AudioBuffer read_wav(const std::string& path, std::function<bool()> go_on = {});

}  // namespace tamlor::audio
