#include "app/g7231/audio_input.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/g7231/console.h"
#include "app/common/pcm_conversion.h"
#include "app/g7231/resampler.h"
#include "app/g7231/sndfile_open.h"

namespace g7231::app {
namespace {

using cli::kSpeechRate;
constexpr sf_count_t kBlockFrames = 4096;

std::string lower_extension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

// A whole input held in memory, read through libsndfile's virtual I/O.
struct MemoryFile {
  std::vector<unsigned char> bytes;
  sf_count_t position = 0;
};

sf_count_t memory_length(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  sf_count_t base = 0;
  if (whence == SEEK_CUR) base = m->position;
  if (whence == SEEK_END) base = static_cast<sf_count_t>(m->bytes.size());
  const sf_count_t to = base + offset;
  if (to < 0 || to > static_cast<sf_count_t>(m->bytes.size())) return -1;
  m->position = to;
  return to;
}

sf_count_t memory_read(void* ptr, sf_count_t count, void* user) {
  auto* m = static_cast<MemoryFile*>(user);
  const sf_count_t n = std::min(count, static_cast<sf_count_t>(m->bytes.size()) - m->position);
  if (n <= 0) return 0;
  std::memcpy(ptr, m->bytes.data() + m->position, static_cast<std::size_t>(n));
  m->position += n;
  return n;
}

sf_count_t memory_write(const void*, sf_count_t, void*) { return 0; }

sf_count_t memory_tell(void* user) { return static_cast<MemoryFile*>(user)->position; }

std::vector<unsigned char> read_all_of_standard_input() {
  std::vector<unsigned char> bytes;
  std::vector<unsigned char> block(1 << 16);
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(about("standard input", std::string("cannot read: ") + std::strerror(errno)));
    if (n == 0) return bytes;
    bytes.insert(bytes.end(), block.begin(), block.begin() + n);
  }
}

}  // namespace

bool is_raw_name(const std::string& path) {
  const std::string ext = lower_extension(path);
  return ext == ".raw" || ext == ".pcm";
}

struct AudioReader::Impl {
  std::string name;
  SF_INFO info{};
  SNDFILE* file = nullptr;
  MemoryFile memory;
  SF_VIRTUAL_IO memory_io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  bool passthrough = false;  // 16-bit mono at 8 kHz: read as it stands
  std::unique_ptr<Resampler> resampler;
  std::vector<float> block;
  std::vector<float> mono;
  std::vector<float> converted;
  std::vector<std::int16_t> pending;  // 8 kHz samples ready to hand out
  std::size_t pending_pos = 0;
  std::uint64_t clipped = 0;
  bool ended = false;

  ~Impl() {
    if (file != nullptr) sf_close(file);
  }

  void open(const std::string& path, bool raw);
  void refill();
  void append_converted(std::span<const float> samples);
};

void AudioReader::Impl::open(const std::string& path, bool raw) {
  raw = raw || is_raw_name(path);
  if (raw) {
    info.samplerate = kSpeechRate;
    info.channels = 1;
    info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE;
  }
  std::string reason;
  if (path == "-") {
    struct stat st {};
    const bool seekable = fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    if (raw || seekable) {
      file = open_sndfile([&] { return sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE); }, reason);
    } else {
      memory.bytes = read_all_of_standard_input();
      file = open_sndfile([&] { return sf_open_virtual(&memory_io, SFM_READ, &info, &memory); }, reason);
    }
  } else {
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) throw Failure(about(name, "is a directory"));
    if (exists && S_ISREG(st.st_mode) && st.st_size == 0) throw Failure(about(name, "is empty"));
    file = open_sndfile([&] { return sf_open(path.c_str(), SFM_READ, &info); }, reason);
  }
  if (file == nullptr) throw Failure(about(name, reason));
  if (info.samplerate <= 0 || info.channels <= 0) {
    throw Failure(about(name, "holds no audio (no sample rate or no channels)"));
  }
  const int sub = info.format & SF_FORMAT_SUBMASK;
  passthrough = info.channels == 1 && info.samplerate == kSpeechRate &&
                (sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_U8);
  if (!passthrough) {
    block.resize(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(info.channels));
    mono.resize(static_cast<std::size_t>(kBlockFrames));
    if (info.samplerate != kSpeechRate) resampler = std::make_unique<Resampler>(info.samplerate, kSpeechRate);
  }
}

void AudioReader::Impl::append_converted(std::span<const float> samples) {
  const std::size_t base = pending.size();
  pending.resize(base + samples.size());
  clipped += cli::float_to_pcm16(samples, std::span(pending).subspan(base));
}

void AudioReader::Impl::refill() {
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pending_pos));
  pending_pos = 0;
  sf_count_t got = 0;
  if (passthrough) {
    const std::size_t base = pending.size();
    pending.resize(base + static_cast<std::size_t>(kBlockFrames));
    got = sf_readf_short(file, pending.data() + base, kBlockFrames);
    pending.resize(base + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
  } else {
    got = sf_readf_float(file, block.data(), kBlockFrames);
    const std::size_t frames = static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
    std::span<const float> speech(block.data(), frames);
    if (info.channels > 1) {
      cli::mix_down(std::span<const float>(block.data(), frames * static_cast<std::size_t>(info.channels)),
                    info.channels, mono);
      speech = std::span<const float>(mono.data(), frames);
    }
    if (resampler) {
      converted.clear();
      resampler->process(speech, converted);
      if (got <= 0) resampler->flush(converted);
      speech = converted;
    }
    append_converted(speech);
  }
  if (got <= 0) {
    if (sf_error(file) != SF_ERR_NO_ERROR) throw Failure(about(name, sf_strerror(file)));
    ended = true;
  }
}

AudioReader::AudioReader(const std::string& path, bool raw) : impl_(std::make_unique<Impl>()) {
  impl_->name = display_name(path);
  impl_->open(path, raw);
}

AudioReader::~AudioReader() = default;

std::size_t AudioReader::read(std::span<std::int16_t> out) {
  Impl& m = *impl_;
  std::size_t done = 0;
  while (done < out.size()) {
    if (m.pending_pos == m.pending.size()) {
      if (m.ended) break;
      m.refill();
      continue;
    }
    const std::size_t n = std::min(out.size() - done, m.pending.size() - m.pending_pos);
    std::copy_n(m.pending.begin() + static_cast<std::ptrdiff_t>(m.pending_pos), n,
                out.begin() + static_cast<std::ptrdiff_t>(done));
    m.pending_pos += n;
    done += n;
  }
  return done;
}

std::uint64_t AudioReader::clipped() const { return impl_->clipped; }

std::optional<double> AudioReader::duration() const {
  const SF_INFO& info = impl_->info;
  // A stream of unknown length reports a huge frame count.
  if (info.frames <= 0 || info.frames >= SF_COUNT_MAX / 4) return std::nullopt;
  return static_cast<double>(info.frames) / info.samplerate;
}

const std::string& AudioReader::name() const { return impl_->name; }

}  // namespace g7231::app
