// Files of records, as g7231enc writes them and g7231dec and g7231 read them.
//
// One fixed-length record per 30 ms frame, with no header and nothing between records: the packed frame
// at the start of its record, zero bytes after it. A 20-byte record has room for an active 5.3 kbit/s
// frame (20 bytes), a SID frame (4) or an untransmitted frame (1), but not for an active 6.3 kbit/s frame
// (24 bytes); g7231enc and g7231dec use 20-byte records and code at 5.3 kbit/s only. A 24-byte record
// holds any frame.
#pragma once

#include <cstddef>

#include "bitstream/frame_layout.h"

namespace g7231::cli {

inline constexpr std::size_t kLowRateRecordBytes = frame_bytes(FrameType::active_low_rate);
inline constexpr std::size_t kHighRateRecordBytes = frame_bytes(FrameType::active_high_rate);

}  // namespace g7231::cli
