// What the command-line programs share: the layout of their files, the byte order of PCM samples, and
// files that close themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "bitstream/frame_layout.h"
#include "codec/common/constants.h"

namespace g7231::cli {

// A coded-speech file is one record per 30 ms frame, with no header and nothing between records: the
// packed frame at the start of its record, zero after it. A record has room for an active 5.3 kbit/s
// frame (20 bytes), a SID frame (4) or an untransmitted frame (1), but not for an active 6.3 kbit/s frame
// (24 bytes): the programs code at 5.3 kbit/s only.
inline constexpr std::size_t kRecordBytes = frame_bytes(FrameType::active_low_rate);

// A frame of raw PCM: 240 16-bit samples.
inline constexpr std::size_t kPcmFrameBytes = 2 * kFrameSamples;

// The samples of one frame from its bytes in a PCM file, little-endian whatever the host's byte order.
void samples_from_bytes(std::span<const std::uint8_t, kPcmFrameBytes> bytes,
                        std::span<std::int16_t, kFrameSamples> samples);

// The bytes of one frame of samples in a PCM file, little-endian whatever the host's byte order.
void bytes_from_samples(std::span<const std::int16_t, kFrameSamples> samples,
                        std::span<std::uint8_t, kPcmFrameBytes> bytes);

// An open C file, closed when the object goes.
class File {
 public:
  explicit File(std::FILE* f) : f_(f) {}
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  // Closes the file now; false when buffered data could not be written.
  bool close();

 private:
  std::FILE* f_;
};

// True when the open input file and the path `output` name the same file (same device and inode, through
// any links), so that writing the output would destroy the input.
bool is_same_file(std::FILE* input, const char* output);

// An output file that appears under its name only when it is complete. A new name or an existing regular
// file is written to a temporary file beside it, which takes the name on `commit` (with the mode the file
// had, or the one a new file gets); until then, and whenever something fails, the name keeps what it had.
// Anything else (a device such as /dev/null, a pipe, a terminal) is written in place.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an uncommitted file is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens path for writing; false, with errno telling why, when it cannot be written.
  bool open(const char* path);
  std::FILE* get() const { return f_; }
  // Writes out what is buffered and puts the file in place under its name; false, with errno telling why,
  // when any of it fails, and then the temporary file is gone.
  bool commit();

 private:
  void discard();

  std::FILE* f_ = nullptr;
  std::string temporary_;  // empty when writing in place
  std::string target_;     // the name the temporary file takes on commit
};

}  // namespace g7231::cli
