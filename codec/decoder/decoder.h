// The decoder object and its three entry points.
//
// One `G7231Decoder` holds everything that links one received frame to the next; it owns no other memory,
// and two decoders never share anything. Create it with `create_decoder`, give it each frame with
// `decode_frame`, dispose of it with `destroy_decoder`. One object must not be used by two threads at
// once; separate objects may run on separate threads.
//
// Each frame's type and rate come from its own two type bits, so a stream may switch between 6.3 and
// 5.3 kbit/s, SID and untransmitted frames from one frame to the next. Without the postfilter the output
// of an undamaged stream equals, sample for sample, the speech the encoder reconstructed.
//
// The decoder's tables are the encoder's: streams decode correctly only with the table set they were
// coded with: the built-in set (codec/tables/table_set.h) unless the options give another, which the
// decoder refers to and the caller keeps alive and unchanged for as long as the decoder lives.
#pragma once

#include <cstdint>
#include <span>

#include "bitstream/frame_layout.h"
#include "codec/common/constants.h"
#include "codec/decoder/decoder_state.h"

namespace g7231 {

struct DecoderOptions {
  bool postfilter = true;  // pitch and formant postfilter on the output
  const TableSet* tables = nullptr;  // null: the built-in set; else one that outlives the decoder
};

// A new decoder; null when it cannot be allocated.
[[nodiscard]] G7231Decoder* create_decoder(const DecoderOptions& options = {});

struct DecodeResult {
  bool ok = false;         // false only for a null decoder, which leaves out untouched
  bool concealed = false;  // lost, cut short, holding a field no encoder writes, or a lost comfort-noise update
  FrameType type = FrameType::untransmitted;  // the type bits of the frame, when it had any
};

// Decodes one frame into 240 samples of 8 kHz speech. frame holds the frame at its natural length (24, 20,
// 4 or 1 bytes; anything after it is ignored); lost marks a frame that never arrived, whose bytes are then
// not read. A buffer shorter than its type needs is concealed as lost and never read past its end.
DecodeResult decode_frame(G7231Decoder* decoder, std::span<const std::uint8_t> frame, bool lost,
                          std::span<std::int16_t, kFrameSamples> out);

// Destroys a decoder. Returns true when it destroyed one, false for null.
bool destroy_decoder(G7231Decoder* decoder);

}  // namespace g7231
