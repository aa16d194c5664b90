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
// time. The arguments are checked before the file is opened; a file that
// cannot be written completely is removed and FileError thrown.
void write_wav(const std::string& path, const float* samples, std::size_t count, std::uint32_t sample_rate,
               std::uint16_t channels, WavEncoding encoding);

// The samples of a WAV file held in memory. ValueError with the reason for
// anything that is not a WAV file this reader understands (no RIFF/WAVE
// header, a compressed or unknown encoding, zero channels, a missing chunk)
// and for a file cut short (a chunk or a frame running past its end).
AudioBuffer decode_wav(const unsigned char* bytes, std::size_t size);

// decode_wav of the file at `path`; FileError when it cannot be read, and
// the ValueError's text prefixed with the path.
AudioBuffer read_wav(const std::string& path);

}  // namespace tamlor::audio
