#include "app/g7231/frame_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "app/g7231/console.h"
#include "bitstream/frame_layout.h"

namespace g7231::app {
namespace {

std::size_t natural_size(std::uint8_t first_byte) { return frame_bytes(frame_type_of(first_byte)); }

// Frames at their natural lengths. strict: they must end exactly at the end; otherwise the last frame may
// be cut short.
std::optional<std::vector<FrameRef>> split_packed(std::span<const std::uint8_t> bytes, bool strict) {
  std::vector<FrameRef> frames;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t size = natural_size(bytes[at]);
    if (at + size > bytes.size()) {
      if (strict) return std::nullopt;
      frames.push_back({at, bytes.size() - at});
      break;
    }
    frames.push_back({at, size});
    at += size;
  }
  return frames;
}

// Whether every record of the given length holds one frame followed only by zero bytes, the length
// dividing the file.
bool holds_records(std::span<const std::uint8_t> bytes, std::size_t record) {
  if (bytes.size() % record != 0) return false;
  for (std::size_t at = 0; at < bytes.size(); at += record) {
    const std::size_t size = natural_size(bytes[at]);
    if (size > record) return false;
    const auto rest = bytes.subspan(at + size, record - size);
    if (std::any_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b != 0; })) return false;
  }
  return true;
}

std::vector<FrameRef> split_records(std::span<const std::uint8_t> bytes, std::size_t record) {
  std::vector<FrameRef> frames;
  for (std::size_t at = 0; at < bytes.size(); at += record) frames.push_back({at, std::min(record, bytes.size() - at)});
  return frames;
}

// The record length of a file read as records whatever it holds: the one whose checks pass, else the one
// that the first speech frame's rate fills.
std::size_t choose_record_bytes(std::span<const std::uint8_t> bytes) {
  if (holds_records(bytes, kLowRateRecordBytes)) return kLowRateRecordBytes;
  if (holds_records(bytes, kHighRateRecordBytes)) return kHighRateRecordBytes;
  for (std::size_t at = 0; at < bytes.size(); at += kLowRateRecordBytes) {
    const FrameType t = frame_type_of(bytes[at]);
    if (t == FrameType::active_high_rate) return kHighRateRecordBytes;
    if (t == FrameType::active_low_rate) return kLowRateRecordBytes;
  }
  return kLowRateRecordBytes;
}

bool same_frames(std::span<const std::uint8_t> bytes, const std::vector<FrameRef>& a, const std::vector<FrameRef>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t n = natural_size(bytes[a[i].offset]);
    if (!std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(a[i].offset),
                    bytes.begin() + static_cast<std::ptrdiff_t>(a[i].offset + n),
                    bytes.begin() + static_cast<std::ptrdiff_t>(b[i].offset))) {
      return false;
    }
  }
  return true;
}

struct Reading {
  StreamFormat format;
  std::size_t record_bytes;
  std::vector<FrameRef> frames;
};

std::string describe(const Reading& r) {
  return r.format == StreamFormat::packed ? "packed frames" : "records of " + std::to_string(r.record_bytes) + " bytes";
}

std::vector<std::uint8_t> read_whole(const std::string& path, const std::string& name) {
  int fd = STDIN_FILENO;
  if (path != "-") {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failure(about(name, std::strerror(errno)));
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      throw Failure(about(name, "is a directory"));
    }
  }
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> block(1 << 16);
  int error = 0;
  for (;;) {
    const ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    bytes.insert(bytes.end(), block.begin(), block.begin() + n);
  }
  if (fd != STDIN_FILENO) close(fd);
  if (error != 0) throw Failure(about(name, std::string("cannot read: ") + std::strerror(error)));
  return bytes;
}

}  // namespace

StreamFormat parse_stream_format(const std::string& name) {
  if (name == "packed") return StreamFormat::packed;
  if (name == "records") return StreamFormat::records;
  return StreamFormat::automatic;
}

std::string FrameStream::layout() const {
  return describe({format, record_bytes, {}});
}

FrameStream split_frame_stream(std::vector<std::uint8_t> bytes, StreamFormat format, const std::string& name) {
  if (bytes.empty()) throw Failure(about(name, "is empty"));
  FrameStream s;
  s.bytes = std::move(bytes);
  const std::span<const std::uint8_t> b(s.bytes);
  if (format == StreamFormat::automatic) {
    std::vector<Reading> readings;
    if (auto packed = split_packed(b, true)) readings.push_back({StreamFormat::packed, 0, std::move(*packed)});
    for (std::size_t record : {kLowRateRecordBytes, kHighRateRecordBytes}) {
      if (holds_records(b, record)) readings.push_back({StreamFormat::records, record, split_records(b, record)});
    }
    if (readings.empty()) {
      throw Failure(about(name, "is neither a stream of packed frames nor a file of 20- or 24-byte records "
                                "(use --format to decode it anyway)"));
    }
    for (std::size_t i = 1; i < readings.size(); ++i) {
      if (!same_frames(b, readings[0].frames, readings[i].frames)) {
        throw Failure(about(name, "could be " + describe(readings[0]) + " or " + describe(readings[i]) +
                                      "; say which with --format"));
      }
    }
    s.format = readings[0].format;
    s.record_bytes = readings[0].record_bytes;
    s.frames = std::move(readings[0].frames);
  } else if (format == StreamFormat::packed) {
    s.format = StreamFormat::packed;
    s.frames = std::move(*split_packed(b, false));
  } else {
    s.format = StreamFormat::records;
    s.record_bytes = choose_record_bytes(b);
    s.frames = split_records(b, s.record_bytes);
  }
  const FrameRef& last = s.frames.back();
  s.cut_short = last.size < natural_size(s.bytes[last.offset]);
  return s;
}

FrameStream read_frame_stream(const std::string& path, StreamFormat format) {
  const std::string name = display_name(path);
  return split_frame_stream(read_whole(path, name), format, name);
}

FrameWriter::FrameWriter(OutputFile& out, StreamFormat format, std::size_t record_bytes)
    : out_(out), format_(format), record_bytes_(record_bytes) {}

void FrameWriter::write(std::span<const std::uint8_t, kMaxFrameBytes> frame) {
  const std::size_t size = format_ == StreamFormat::records ? record_bytes_ : natural_size(frame[0]);
  out_.write(frame.first(size));
}

}  // namespace g7231::app
