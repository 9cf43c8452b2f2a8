// Fuzz target: the C interface under random option structs, random call sequences and random buffer
// lengths. Every buffer handed to the library is a heap block of exactly the length the call is told, so
// that a read or write past it is an AddressSanitizer report. Each call's result must be the one its
// arguments call for (an error code for a bad option, length or buffer, touching nothing; otherwise a
// frame as long as its type bits say, at the rate in force), and a twin decoder given the same frames
// into differently filled buffers must write the same 240 samples.
//
// The input, read front to back (missing bytes read as zero):
//   3 bytes   encoder options (rate, vad, highpass), decoder option (postfilter) and whether the objects
//             are placed in caller memory, each picked from a few good and bad values
//   then      calls: an operation byte, then that operation's bytes (see run_call)
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "g7231/g7231.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "c_api_fuzzer: %s\n", what);
  std::abort();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  template <std::size_t N>
  int pick(const std::array<int, N>& values) {
    return values[byte() % N];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr std::array<int, 6> kRates = {G7231_RATE_5300, G7231_RATE_6300, G7231_RATE_5300, 0, 5301, -6300};
constexpr std::array<int, 5> kFlags = {1, 0, 1, 2, -1};
constexpr std::array<int, 6> kSampleCounts = {G7231_FRAME_SAMPLES, G7231_FRAME_SAMPLES, G7231_FRAME_SAMPLES, 0,
                                              G7231_FRAME_SAMPLES - 1, G7231_FRAME_SAMPLES + 1};

bool is_flag(int v) { return v == 0 || v == 1; }
bool is_rate(int v) { return v == G7231_RATE_5300 || v == G7231_RATE_6300; }

// A heap block of exactly n elements, filled with a pattern.
template <class T>
std::unique_ptr<T[]> block(std::size_t n, T fill) {
  std::unique_ptr<T[]> b(new T[n == 0 ? 1 : n]);
  std::fill_n(b.get(), n == 0 ? 1 : n, fill);
  return b;
}

// The library's objects, allocated or placed in memory of the size asked for.
struct Objects {
  g7231_encoder* encoder = nullptr;
  g7231_decoder* decoder = nullptr;
  g7231_decoder* twin = nullptr;
  std::vector<std::max_align_t> memory[3];
  bool placed = false;
  int rate = 0;  // the encoder's rate, 0 when there is no encoder

  void destroy() {
    if (!placed) {
      g7231_encoder_destroy(encoder);
      g7231_decoder_destroy(decoder);
      g7231_decoder_destroy(twin);
    }
    encoder = nullptr;
    decoder = twin = nullptr;
  }

  template <class T, class Options>
  T* make(int slot, std::size_t size, const Options& options, int expected, T* (*create)(const Options*, int*),
          int (*init)(T*, std::size_t, const Options*)) {
    if (placed) {
      memory[slot].assign(size / sizeof(std::max_align_t) + 1, std::max_align_t{});
      T* at = reinterpret_cast<T*>(memory[slot].data());
      const int r = init(at, size, &options);
      check(r == expected, "init gave another result than its options call for");
      return r == G7231_OK ? at : nullptr;
    }
    int error = 1;
    T* made = create(&options, &error);
    check(error == expected && (made != nullptr) == (expected == G7231_OK), "create gave another result");
    return made;
  }

  void create(Input& in) {
    destroy();
    g7231_encoder_options eo;
    g7231_encoder_options_init(&eo);
    eo.rate = in.pick(kRates);
    const std::uint8_t flags = in.byte();
    eo.vad = kFlags[flags % 5];
    eo.highpass = kFlags[(flags / 5) % 5];
    g7231_decoder_options dopt;
    g7231_decoder_options_init(&dopt);
    const std::uint8_t placement = in.byte();
    dopt.postfilter = kFlags[placement % 5];
    placed = (placement & 0x80) != 0;
    const bool short_memory = placed && (placement & 0x40) != 0;
    const int enc_expected = short_memory ? G7231_ERR_SHORT_BUFFER
                             : is_rate(eo.rate) && is_flag(eo.vad) && is_flag(eo.highpass) ? G7231_OK
                                                                                          : G7231_ERR_BAD_OPTION;
    const int dec_expected = short_memory ? G7231_ERR_SHORT_BUFFER
                             : is_flag(dopt.postfilter)    ? G7231_OK
                                                           : G7231_ERR_BAD_OPTION;
    const std::size_t shortfall = short_memory ? 1 + (placement & 0x0F) : 0;
    encoder = make<g7231_encoder>(0, g7231_encoder_get_size() - shortfall, eo, enc_expected, g7231_encoder_create,
                                  g7231_encoder_init);
    decoder = make<g7231_decoder>(1, g7231_decoder_get_size() - shortfall, dopt, dec_expected,
                                  g7231_decoder_create, g7231_decoder_init);
    twin = make<g7231_decoder>(2, g7231_decoder_get_size() - shortfall, dopt, dec_expected, g7231_decoder_create,
                               g7231_decoder_init);
    rate = encoder != nullptr ? eo.rate : 0;
    check(encoder == nullptr || g7231_encoder_get_rate(encoder) == rate, "the encoder is not at its rate");
  }
};

// Samples of a signal described by three bytes: noise at a level, over a square wave of a period and a
// level. The call sequences and lengths are what this target explores; decode_frame_fuzzer explores the
// frames' bytes.
void fill_signal(std::int16_t* pcm, std::size_t samples, Input& in) {
  const std::uint8_t levels = in.byte();
  const int period = 2 + in.byte();
  std::uint32_t seed = in.byte() + 1u;
  const int noise_shift = 16 + (levels & 0x0F);
  const int square = (levels >> 4) * 2184;  // up to full scale
  for (std::size_t i = 0; i < samples; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int noise = static_cast<int>(seed) >> noise_shift;
    const int wave = static_cast<int>(i) % period < period / 2 ? square : -square;
    pcm[i] = static_cast<std::int16_t>(std::clamp(noise + wave, -32768, 32767));
  }
}

// Decodes one frame (null: lost) into the decoder and its twin, with pcm room for `room` samples.
void decode(Objects& o, const std::uint8_t* frame, std::size_t size, std::size_t room) {
  auto pcm = block<std::int16_t>(room, 0x5555);
  auto twin_pcm = block<std::int16_t>(room, -0x5556);
  const int r = g7231_decode(o.decoder, frame, size, pcm.get(), room);
  const int t = g7231_decode(o.twin, frame, size, twin_pcm.get(), room);
  check(r == t, "twin decoders disagree");
  const int expected = o.decoder == nullptr                  ? G7231_ERR_NULL
                       : frame == nullptr && size != 0       ? G7231_ERR_BAD_LENGTH
                       : room < G7231_FRAME_SAMPLES          ? G7231_ERR_SHORT_BUFFER
                                                             : G7231_FRAME_SAMPLES;
  check(r == expected, "decode gave another result than its arguments call for");
  if (r < 0) {
    check(std::all_of(pcm.get(), pcm.get() + room, [](std::int16_t v) { return v == 0x5555; }),
          "a refused decode wrote samples");
    return;
  }
  check(std::equal(pcm.get(), pcm.get() + G7231_FRAME_SAMPLES, twin_pcm.get()),
        "the output depends on the buffer's old contents");
  check(std::all_of(pcm.get() + G7231_FRAME_SAMPLES, pcm.get() + room, [](std::int16_t v) { return v == 0x5555; }),
        "decode wrote past 240 samples");
}

// One call, chosen by the operation byte:
//   0 encode: sample count (mostly 240), output size 0..27, then the signal's three bytes (fill_signal)
//   1 decode the last encoded frame, cut to a length, with room for 240 samples or fewer
//   2 decode arbitrary bytes: a length 0..31 and the bytes
//   3 a lost frame (null), or a null frame with a length
//   4 set the encoder's rate to one of a few good and bad values
//   5 create the objects again with new options
void run_call(Objects& o, Input& in, std::vector<std::uint8_t>& last) {
  switch (in.byte() % 6) {
    case 0: {
      const auto samples = static_cast<std::size_t>(in.pick(kSampleCounts));
      const std::size_t out_size = in.byte() % 28;
      auto pcm = block<std::int16_t>(samples, 0);
      fill_signal(pcm.get(), samples, in);
      const std::vector<std::int16_t> before(pcm.get(), pcm.get() + samples);
      auto out = block<std::uint8_t>(out_size, 0xA5);
      const int r = g7231_encode(o.encoder, pcm.get(), samples, out.get(), out_size);
      check(std::equal(before.begin(), before.end(), pcm.get()), "encode changed its input");
      const std::size_t needed = o.rate == G7231_RATE_6300 ? 24 : 20;
      const int expected = o.encoder == nullptr              ? G7231_ERR_NULL
                           : samples != G7231_FRAME_SAMPLES  ? G7231_ERR_BAD_LENGTH
                           : out_size < needed               ? G7231_ERR_SHORT_BUFFER
                                                             : 1;
      if (expected != 1) {
        check(r == expected, "encode gave another error than its arguments call for");
        check(std::all_of(out.get(), out.get() + out_size, [](std::uint8_t b) { return b == 0xA5; }),
              "a refused encode wrote bytes");
        return;
      }
      check(r > 0 && static_cast<std::size_t>(r) == g7231_frame_size(out[0]), "the length is not the type's");
      const int type = g7231_frame_type_of(out[0]);
      check(type >= G7231_FRAME_SID || type == (o.rate == G7231_RATE_6300 ? G7231_FRAME_ACTIVE_6300
                                                                          : G7231_FRAME_ACTIVE_5300),
            "an active frame not at the rate in force");
      check(std::all_of(out.get() + r, out.get() + out_size, [](std::uint8_t b) { return b == 0xA5; }),
            "encode wrote past the frame");
      last.assign(out.get(), out.get() + r);
      return;
    }
    case 1: {
      const std::uint8_t b = in.byte();
      const std::size_t length = std::min<std::size_t>(last.size(), b & 0x1F);
      const std::size_t room = (b & 0x80) != 0 ? G7231_FRAME_SAMPLES - 1 - (b & 0x40) : G7231_FRAME_SAMPLES;
      auto frame = block<std::uint8_t>(length, 0);
      std::copy_n(last.begin(), length, frame.get());
      decode(o, frame.get(), length, room);
      return;
    }
    case 2: {
      const std::size_t length = in.byte() % 32;
      auto frame = block<std::uint8_t>(length, 0);
      for (std::size_t i = 0; i < length; ++i) frame[i] = in.byte();
      decode(o, frame.get(), length, G7231_FRAME_SAMPLES + (in.byte() & 3));
      return;
    }
    case 3:
      decode(o, nullptr, in.byte() % 3, G7231_FRAME_SAMPLES);
      return;
    case 4: {
      const int rate = in.pick(kRates);
      const int r = g7231_encoder_set_rate(o.encoder, rate);
      const int expected = o.encoder == nullptr ? G7231_ERR_NULL : is_rate(rate) ? G7231_OK : G7231_ERR_BAD_OPTION;
      check(r == expected, "set_rate gave another result than its arguments call for");
      if (r == G7231_OK) o.rate = rate;
      check(g7231_encoder_get_rate(o.encoder) == (o.encoder == nullptr ? G7231_ERR_NULL : o.rate),
            "get_rate is not the rate in force");
      return;
    }
    default:
      o.create(in);
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Objects objects;
  objects.create(in);
  std::vector<std::uint8_t> last;
  for (int calls = 0; !in.done() && calls < 64; ++calls) run_call(objects, in, last);
  objects.destroy();
  return 0;
}
