// Decoded speech out: a WAV file or raw 16-bit little-endian PCM, mono, at 8 kHz or converted to another
// rate with libsoxr, written through libsndfile into an Output.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "app/g7231/output.h"

namespace g7231::app {

enum class AudioContainer { wav, raw };

// WAV for a name ending in .wav (any case), raw PCM for anything else, standard output included.
AudioContainer container_for(const std::string& path);

class AudioWriter {
 public:
  // rate: the sample rate of the file written; the speech given to write() is at 8 kHz. Throws Failure
  // with libsndfile's reason when the file cannot be started.
  AudioWriter(Output& file, AudioContainer container, int rate);
  ~AudioWriter();
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;

  // Writes 8 kHz speech; throws Failure on a write error.
  void write(std::span<const std::int16_t> speech);
  // Drains the rate converter and completes the file (a WAV header gets its lengths); the Output is then
  // ready to commit. Throws Failure on a write error.
  void finish();
  // Samples that had to be limited to the 16-bit range by rate conversion.
  std::uint64_t clipped() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace g7231::app
