#include "app/g7231/audio_output.h"

#include <sndfile.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "app/g7231/console.h"
#include "app/common/pcm_conversion.h"
#include "app/g7231/resampler.h"
#include "app/g7231/sndfile_open.h"

namespace g7231::app {

using cli::kSpeechRate;

AudioContainer container_for(const std::string& path) {
  if (path.size() < 4) return AudioContainer::raw;
  std::string ext = path.substr(path.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".wav" ? AudioContainer::wav : AudioContainer::raw;
}

struct AudioWriter::Impl {
  Output& out;
  SNDFILE* file = nullptr;
  std::unique_ptr<Resampler> resampler;
  std::vector<float> in;
  std::vector<float> converted;
  std::vector<std::int16_t> pcm;
  std::uint64_t clipped = 0;

  explicit Impl(Output& o) : out(o) {}
  ~Impl() {
    if (file != nullptr) sf_close(file);
  }

  void write_pcm(std::span<const std::int16_t> samples) {
    const auto n = static_cast<sf_count_t>(samples.size());
    if (n > 0 && sf_writef_short(file, samples.data(), n) != n) {
      throw Failure(about(out.name(), std::string("cannot write: ") + sf_strerror(file)));
    }
  }

  void write_converted() {
    pcm.resize(converted.size());
    clipped += cli::float_to_pcm16(converted, pcm);
    write_pcm(pcm);
    converted.clear();
  }
};

AudioWriter::AudioWriter(Output& file, AudioContainer container, int rate) : impl_(std::make_unique<Impl>(file)) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = container == AudioContainer::wav ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16)
                                                 : (SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE);
  std::string reason;
  impl_->file = open_sndfile([&] { return sf_open_fd(file.fd(), SFM_WRITE, &info, SF_FALSE); }, reason);
  if (impl_->file == nullptr) throw Failure(about(file.name(), "cannot write: " + reason));
  if (rate != kSpeechRate) impl_->resampler = std::make_unique<Resampler>(kSpeechRate, rate);
}

AudioWriter::~AudioWriter() = default;

void AudioWriter::write(std::span<const std::int16_t> speech) {
  Impl& m = *impl_;
  if (!m.resampler) {
    m.write_pcm(speech);
    return;
  }
  m.in.resize(speech.size());
  cli::pcm16_to_float(speech, m.in);
  m.resampler->process(m.in, m.converted);
  m.write_converted();
}

void AudioWriter::finish() {
  Impl& m = *impl_;
  if (m.resampler) {
    m.resampler->flush(m.converted);
    m.write_converted();
  }
  SNDFILE* f = m.file;
  m.file = nullptr;
  // Closing writes the WAV header's final lengths.
  const int code = sf_close(f);
  if (code != 0) throw Failure(about(m.out.name(), std::string("cannot write: ") + sf_error_number(code)));
}

std::uint64_t AudioWriter::clipped() const { return impl_->clipped; }

}  // namespace g7231::app
