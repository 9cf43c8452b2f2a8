// Files of coded frames, in the two layouts g7231 reads and writes.
//
// packed:  each frame at its natural length (24, 20, 4 or 1 bytes, from its two type bits), one after
//          another: the layout streaming and storage use.
// records: one fixed record per frame, 20 bytes (5.3 kbit/s, as g7231enc writes) or 24 bytes (6.3 kbit/s);
//          a shorter frame is followed by zero bytes up to the record's end.
//
// Telling them apart: a file is read as records of 20 (or 24) bytes when its length is a multiple of 20
// (24), every record holds one frame followed only by zero bytes, and at least one frame is shorter than
// its record; otherwise as packed frames when its frames, each at its natural length, end exactly at the
// end of the file. (Frames that all fill their records read the same either way.) The two record lengths
// never both fit one file. A packed stream passes the records check only by holding runs of zero bytes
// up to every record boundary, which coded frames do not; a file of records, on the other hand, may well
// also walk as packed frames by chance, so the records check comes first. A file that fits neither (a
// packed stream cut short, say) is refused, and can still be read with its layout named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/common/record_layout.h"
#include "app/g7231/output.h"
#include "codec/common/constants.h"

namespace g7231::app {

// rtp: the frames of one RTP stream of a capture, put in time order (see rtp_streams.h).
enum class StreamFormat { automatic, packed, records, rtp };

// "packed", "records", anything else ("auto"): automatic.
StreamFormat parse_stream_format(const std::string& name);

// The length of one frame of speech.
inline constexpr double kFrameSeconds = 0.030;

using cli::kHighRateRecordBytes;
using cli::kLowRateRecordBytes;

struct FrameRef {
  std::size_t offset = 0;  // into FrameStream::bytes
  std::size_t size = 0;    // bytes held for the frame: its natural length or a whole record; fewer when cut short
  bool lost = false;       // never received (a lost or damaged packet): concealed, its bytes not read
};

struct FrameStream {
  std::vector<std::uint8_t> bytes;
  std::vector<FrameRef> frames;
  StreamFormat format = StreamFormat::packed;  // packed or records, as read
  std::size_t record_bytes = 0;                // records: 20 or 24
  bool cut_short = false;                      // the file ends inside its last frame

  std::span<const std::uint8_t> frame(std::size_t i) const {
    return std::span<const std::uint8_t>(bytes).subspan(frames[i].offset, frames[i].size);
  }
  // "packed frames", "records of N bytes" or "an RTP stream".
  std::string layout() const;
};

// Splits the bytes of a frame file into frames. automatic applies the rule above; packed and records read
// the file that way whatever it holds (for records, the record length that passes the check, else the
// one that divides the file, else 24 when the first frame is at 6.3 kbit/s and 20 otherwise). Throws
// Failure, naming `name`, for an empty file or one the rule cannot place.
FrameStream split_frame_stream(std::vector<std::uint8_t> bytes, StreamFormat format, const std::string& name);

// Reads a whole file ("-": standard input); throws Failure naming `name` when it cannot.
std::vector<std::uint8_t> read_whole(const std::string& path, const std::string& name);

// Reads a whole frame file ("-": standard input) and splits it.
FrameStream read_frame_stream(const std::string& path, StreamFormat format);

// Writes coded frames in one layout.
class FrameWriter {
 public:
  // record_bytes: the record length for StreamFormat::records (20 or 24).
  FrameWriter(Output& out, StreamFormat format, std::size_t record_bytes);
  // frame: as the encoder leaves it, the frame at its start and zeros after it.
  void write(std::span<const std::uint8_t, kMaxFrameBytes> frame);

 private:
  Output& out_;
  StreamFormat format_;
  std::size_t record_bytes_;
};

}  // namespace g7231::app
