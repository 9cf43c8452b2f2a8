// Encoder and decoder objects held by a std::unique_ptr, destroyed when their holder goes.
#pragma once

#include <memory>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"

namespace g7231::cli {

struct EncoderDeleter {
  void operator()(G7231Encoder* encoder) const { destroy_encoder(encoder); }
};

struct DecoderDeleter {
  void operator()(G7231Decoder* decoder) const { destroy_decoder(decoder); }
};

using EncoderPtr = std::unique_ptr<G7231Encoder, EncoderDeleter>;
using DecoderPtr = std::unique_ptr<G7231Decoder, DecoderDeleter>;

}  // namespace g7231::cli
