// g7231opcount: fixed-point operator calls and saturations per frame, from the instrumented build
// (configure with -DG7231_FX_TRACE=ON).
//
//   g7231opcount [--high-rate] FILE.raw...
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "codec/encoder/encoder.h"
#include "fixedpoint/basic_ops.h"

namespace {

constexpr std::array<const char*, fx::kOpCount> kNames = {
    "saturate16",   "add16",        "sub16",        "abs16",       "negate16",     "shl16",       "shr16",
    "mult16",       "mult16_round", "mult16_wrap",  "mult32_16x16", "add32",       "sub32",        "mac32",
    "msu32",        "negate32",     "abs32",        "shl32",       "shr32",        "extract_high", "extract_low",
    "round32_to16", "deposit_high", "deposit_low",  "norm16",      "norm32",       "div16",        "div32_16",
    "mult32_32x16"};

}  // namespace

int main(int argc, char* argv[]) {
  bool high_rate = false;
  fx::OpTrace trace;
  long frames = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--high-rate") == 0) {
      high_rate = true;
      continue;
    }
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    g7231::G7231Encoder* enc = g7231::create_encoder(high_rate);
    std::array<std::uint8_t, g7231::kMaxFrameBytes> out;
    for (std::size_t off = 0; off + 2 * g7231::kFrameSamples <= bytes.size(); off += 2 * g7231::kFrameSamples) {
      std::array<std::int16_t, g7231::kFrameSamples> frame;
      for (std::size_t n = 0; n < frame.size(); ++n) {
        frame[n] = static_cast<std::int16_t>(bytes[off + 2 * n] | (bytes[off + 2 * n + 1] << 8));
      }
      const fx::OpTraceScope scope(trace);
      g7231::encode_frame(enc, frame, out);
      ++frames;
    }
    g7231::destroy_encoder(enc);
  }
  if (frames == 0) {
    std::fprintf(stderr, "usage: g7231opcount [--high-rate] FILE.raw...\n");
    return 1;
  }
  std::uint64_t total = 0;
  std::printf("%ld frames at %s kbit/s; operator calls per frame:\n", frames, high_rate ? "6.3" : "5.3");
  for (std::size_t i = 0; i < fx::kOpCount; ++i) {
    total += trace.calls[i];
    std::printf("  %-14s %12.1f\n", kNames[i], static_cast<double>(trace.calls[i]) / static_cast<double>(frames));
  }
  std::printf("  %-14s %12.1f\n  %-14s %12.3f\n", "all", static_cast<double>(total) / static_cast<double>(frames),
              "saturations", static_cast<double>(trace.saturations) / static_cast<double>(frames));
  return 0;
}
