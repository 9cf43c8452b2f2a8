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

enum class RecordFit { no, full, padded };

// Whether every record of the given length holds one frame followed only by zero bytes, the length
// dividing the file; padded when at least one frame is shorter than its record.
RecordFit fit_records(std::span<const std::uint8_t> bytes, std::size_t record) {
  if (bytes.size() % record != 0) return RecordFit::no;
  RecordFit fit = RecordFit::full;
  for (std::size_t at = 0; at < bytes.size(); at += record) {
    const std::size_t size = natural_size(bytes[at]);
    if (size > record) return RecordFit::no;
    const auto rest = bytes.subspan(at + size, record - size);
    if (std::any_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b != 0; })) return RecordFit::no;
    if (size < record) fit = RecordFit::padded;
  }
  return fit;
}

std::vector<FrameRef> split_records(std::span<const std::uint8_t> bytes, std::size_t record) {
  std::vector<FrameRef> frames;
  for (std::size_t at = 0; at < bytes.size(); at += record) frames.push_back({at, std::min(record, bytes.size() - at)});
  return frames;
}

// The record length of a file read as records whatever it holds.
std::size_t choose_record_bytes(std::span<const std::uint8_t> bytes) {
  for (std::size_t record : {kLowRateRecordBytes, kHighRateRecordBytes}) {
    if (fit_records(bytes, record) != RecordFit::no) return record;
  }
  const bool low = bytes.size() % kLowRateRecordBytes == 0;
  const bool high = bytes.size() % kHighRateRecordBytes == 0;
  if (low != high) return low ? kLowRateRecordBytes : kHighRateRecordBytes;
  return frame_type_of(bytes[0]) == FrameType::active_high_rate ? kHighRateRecordBytes : kLowRateRecordBytes;
}

}  // namespace

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

StreamFormat parse_stream_format(const std::string& name) {
  if (name == "packed") return StreamFormat::packed;
  if (name == "records") return StreamFormat::records;
  return StreamFormat::automatic;
}

std::string FrameStream::layout() const {
  if (format == StreamFormat::rtp) return "an RTP stream";
  return format == StreamFormat::packed ? "packed frames" : "records of " + std::to_string(record_bytes) + " bytes";
}

FrameStream split_frame_stream(std::vector<std::uint8_t> bytes, StreamFormat format, const std::string& name) {
  if (bytes.empty()) throw Failure(about(name, "is empty"));
  FrameStream s;
  s.bytes = std::move(bytes);
  const std::span<const std::uint8_t> b(s.bytes);
  if (format == StreamFormat::automatic) {
    for (std::size_t record : {kLowRateRecordBytes, kHighRateRecordBytes}) {
      if (s.frames.empty() && fit_records(b, record) == RecordFit::padded) {
        s.format = StreamFormat::records;
        s.record_bytes = record;
        s.frames = split_records(b, record);
      }
    }
    if (s.frames.empty()) {
      auto packed = split_packed(b, true);
      if (!packed) {
        throw Failure(about(name, "is neither a stream of packed frames nor a file of 20- or 24-byte records "
                                  "(use --format to decode it anyway)"));
      }
      s.format = StreamFormat::packed;
      s.frames = std::move(*packed);
    }
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

FrameWriter::FrameWriter(Output& out, StreamFormat format, std::size_t record_bytes)
    : out_(out), format_(format), record_bytes_(record_bytes) {}

void FrameWriter::write(std::span<const std::uint8_t, kMaxFrameBytes> frame) {
  const std::size_t size = format_ == StreamFormat::records ? record_bytes_ : natural_size(frame[0]);
  out_.write(frame.first(size));
}

}  // namespace g7231::app
