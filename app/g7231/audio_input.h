// Speech for the encoder from an audio file: anything libsndfile reads (WAV, AIFF, FLAC, ...; 8-, 16- or
// 24-bit integer or floating point; any channel count and sample rate), or raw 16-bit little-endian PCM
// at 8 kHz. Channels are averaged into one, other rates are converted to 8 kHz with libsoxr, and samples
// that are not 16-bit integers are rounded to 16 bits, limited to full scale, and counted when limited.
// 16-bit mono input at 8 kHz passes through unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace g7231::app {

// True for a name ending in .raw or .pcm (any case): raw 16-bit little-endian PCM at 8 kHz.
bool is_raw_name(const std::string& path);

class AudioReader {
 public:
  // path "-" reads standard input (raw only with raw set; any other kind is read whole before decoding,
  // since most formats need to seek). raw: the file is raw PCM whatever its name. Throws Failure with
  // libsndfile's reason when the file cannot be read as audio.
  AudioReader(const std::string& path, bool raw);
  ~AudioReader();
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;

  // Fills out with 8 kHz mono samples; returns how many, fewer than out.size() only at the end of the
  // input. Throws Failure on a read error.
  std::size_t read(std::span<std::int16_t> out);

  // Samples that had to be limited to the 16-bit range so far.
  std::uint64_t clipped() const;
  // The input's length in seconds, when the file tells it.
  std::optional<double> duration() const;
  const std::string& name() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace g7231::app
