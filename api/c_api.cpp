// The C interface (include/g7231/g7231.h): a thin layer over the C++ encoder and decoder objects. It checks
// every argument before the codec sees it, copies the caller's const PCM into the frame working buffer the
// encoder overwrites, keeps exceptions from crossing into C, and hides the C++ objects behind opaque
// handles.
#include "g7231/g7231.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "bitstream/frame_layout.h"
#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "codec/tables/table_set_file.h"

// A handle is a tag, telling an initialised object of its kind from other memory, and the codec object,
// inline. Placing the tag first lets every call check it before touching the object.
struct g7231_encoder {
  explicit g7231_encoder(const g7231::EncoderOptions& options) noexcept : codec(options) {}
  std::uint32_t tag;
  g7231::G7231Encoder codec;
};

struct g7231_table_set {
  std::uint32_t tag;
  g7231::TableSet set;
};

struct g7231_decoder {
  explicit g7231_decoder(const g7231::DecoderOptions& options) noexcept : codec(options.postfilter, options.tables) {}
  std::uint32_t tag;
  g7231::G7231Decoder codec;
};

namespace {

constexpr std::uint32_t kEncoderTag = 0x45333237;  // "723E"
constexpr std::uint32_t kDecoderTag = 0x44333237;  // "723D"
constexpr std::uint32_t kTableSetTag = 0x54333237;  // "723T"

// Runs a call's body; an exception, which the codec never throws, becomes an error code here rather than
// crossing into C.
template <class Body>
int guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return G7231_ERR_NO_MEMORY;
  } catch (...) {
    return G7231_ERR_INTERNAL;
  }
}

bool is_flag(int v) { return v == 0 || v == 1; }

// The set an options struct names: the built-in one for null, the loaded one for a loaded handle, and
// nothing (false) for anything else.
bool table_set(const g7231_table_set* handle, const g7231::TableSet*& set) {
  if (handle == nullptr) {
    set = nullptr;
    return true;
  }
  if (handle->tag != kTableSetTag) return false;
  set = &handle->set;
  return true;
}

int encoder_options(const g7231_encoder_options* in, g7231::EncoderOptions& out) {
  g7231_encoder_options o;
  g7231_encoder_options_init(&o);
  if (in != nullptr) o = *in;
  if ((o.rate != G7231_RATE_5300 && o.rate != G7231_RATE_6300) || !is_flag(o.vad) || !is_flag(o.highpass)) {
    return G7231_ERR_BAD_OPTION;
  }
  const g7231::TableSet* tables = nullptr;
  if (!table_set(o.tables, tables)) return G7231_ERR_BAD_OPTION;
  out = {.high_rate = o.rate == G7231_RATE_6300, .vad = o.vad != 0, .highpass = o.highpass != 0, .tables = tables};
  return G7231_OK;
}

int decoder_options(const g7231_decoder_options* in, g7231::DecoderOptions& out) {
  g7231_decoder_options o;
  g7231_decoder_options_init(&o);
  if (in != nullptr) o = *in;
  if (!is_flag(o.postfilter)) return G7231_ERR_BAD_OPTION;
  const g7231::TableSet* tables = nullptr;
  if (!table_set(o.tables, tables)) return G7231_ERR_BAD_OPTION;
  out = {.postfilter = o.postfilter != 0, .tables = tables};
  return G7231_OK;
}

// Checks caller-provided memory for an object of type T.
template <class T>
int check_placement(const void* memory, std::size_t size) {
  if (memory == nullptr) return G7231_ERR_NULL;
  if (size < sizeof(T)) return G7231_ERR_SHORT_BUFFER;
  if (reinterpret_cast<std::uintptr_t>(memory) % alignof(T) != 0) return G7231_ERR_BAD_HANDLE;
  return G7231_OK;
}

template <class T>
int check_handle(const T* handle, std::uint32_t tag) {
  if (handle == nullptr) return G7231_ERR_NULL;
  if (handle->tag != tag) return G7231_ERR_BAD_HANDLE;
  return G7231_OK;
}

// Constructs a handle of type T in memory already checked, with options already checked.
template <class T, class Options>
T* place(void* memory, const Options& options, std::uint32_t tag) noexcept {
  T* handle = new (memory) T(options);
  handle->tag = tag;
  return handle;
}

// The longest frame an encoder at its current rate can write.
std::size_t longest_frame(const g7231::G7231Encoder& codec) {
  return g7231::frame_bytes(codec.low_rate != 0 ? g7231::FrameType::active_low_rate
                                                : g7231::FrameType::active_high_rate);
}

template <class T, class Options, class OptionsIn>
T* create(const OptionsIn* options_in, int* error, std::uint32_t tag,
          int (*read_options)(const OptionsIn*, Options&)) noexcept {
  T* handle = nullptr;
  const int result = guarded([&] {
    Options options;
    const int r = read_options(options_in, options);
    if (r != G7231_OK) return r;
    void* memory = ::operator new(sizeof(T), std::align_val_t{alignof(T)}, std::nothrow);
    if (memory == nullptr) return static_cast<int>(G7231_ERR_NO_MEMORY);
    handle = place<T>(memory, options, tag);
    return static_cast<int>(G7231_OK);
  });
  if (error != nullptr) *error = result;
  return handle;
}

template <class T, class Options, class OptionsIn>
int init(T* memory, std::size_t size, const OptionsIn* options_in, std::uint32_t tag,
         int (*read_options)(const OptionsIn*, Options&)) noexcept {
  return guarded([&] {
    int r = check_placement<T>(memory, size);
    Options options;
    if (r == G7231_OK) r = read_options(options_in, options);
    if (r == G7231_OK) place<T>(memory, options, tag);
    return r;
  });
}

template <class T>
void destroy(T* handle, std::uint32_t tag) noexcept {
  if (check_handle(handle, tag) != G7231_OK) return;
  handle->tag = 0;
  handle->~T();
  ::operator delete(handle, std::align_val_t{alignof(T)});
}

}  // namespace

extern "C" {

const char* g7231_version(void) { return G7231_VERSION_STRING; }

const char* g7231_strerror(int error) {
  switch (error) {
    case G7231_OK: return "success";
    case G7231_ERR_NULL: return "a required pointer is null";
    case G7231_ERR_BAD_OPTION: return "an option or argument is outside its range";
    case G7231_ERR_BAD_LENGTH: return "a sample count or frame length the call cannot take";
    case G7231_ERR_SHORT_BUFFER: return "a buffer is too small";
    case G7231_ERR_BAD_HANDLE: return "not an initialised object of this kind, or misaligned memory";
    case G7231_ERR_NO_MEMORY: return "out of memory";
    case G7231_ERR_IO: return "a table-set file cannot be read";
    case G7231_ERR_BAD_TABLES: return "a table-set file is malformed or fails validation";
    case G7231_ERR_INTERNAL: return "an internal error";
    default: return "unknown error";
  }
}

g7231_table_set* g7231_table_set_load(const char* path, int* error, char* message, size_t message_size) {
  g7231_table_set* loaded = nullptr;
  std::string text;
  const int result = guarded([&] {
    if (path == nullptr) {
      text = "no table-set file named";
      return static_cast<int>(G7231_ERR_NULL);
    }
    std::unique_ptr<g7231_table_set> handle(new (std::nothrow) g7231_table_set);
    if (handle == nullptr) return static_cast<int>(G7231_ERR_NO_MEMORY);
    switch (g7231::load_table_set(path, handle->set, text)) {
      case g7231::TableSetLoad::ok:
        handle->tag = kTableSetTag;
        loaded = handle.release();
        return static_cast<int>(G7231_OK);
      case g7231::TableSetLoad::unreadable:
        return static_cast<int>(G7231_ERR_IO);
      case g7231::TableSetLoad::malformed:
      case g7231::TableSetLoad::invalid:
        break;
    }
    return static_cast<int>(G7231_ERR_BAD_TABLES);
  });
  if (error != nullptr) *error = result;
  if (message != nullptr && message_size > 0) {
    if (result == G7231_ERR_NO_MEMORY) text = g7231_strerror(result);
    const std::size_t n = std::min(text.size(), message_size - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
  }
  return loaded;
}

void g7231_table_set_destroy(g7231_table_set* tables) {
  if (tables == nullptr || tables->tag != kTableSetTag) return;
  tables->tag = 0;
  delete tables;
}

int g7231_frame_type_of(uint8_t first_byte) { return static_cast<int>(g7231::frame_type_of(first_byte)); }

size_t g7231_frame_size(uint8_t first_byte) { return g7231::frame_bytes(g7231::frame_type_of(first_byte)); }

void g7231_encoder_options_init(g7231_encoder_options* options) {
  if (options == nullptr) return;
  *options = {.rate = G7231_RATE_5300, .vad = 1, .highpass = 1, .tables = nullptr};
}

size_t g7231_encoder_get_size(void) { return sizeof(g7231_encoder); }

int g7231_encoder_init(g7231_encoder* encoder, size_t size, const g7231_encoder_options* options) {
  return init(encoder, size, options, kEncoderTag, &encoder_options);
}

g7231_encoder* g7231_encoder_create(const g7231_encoder_options* options, int* error) {
  return create<g7231_encoder>(options, error, kEncoderTag, &encoder_options);
}

void g7231_encoder_destroy(g7231_encoder* encoder) { destroy(encoder, kEncoderTag); }

int g7231_encode(g7231_encoder* encoder, const int16_t* pcm, size_t pcm_samples, uint8_t* out, size_t out_size) {
  return guarded([&] {
    const int r = check_handle(encoder, kEncoderTag);
    if (r != G7231_OK) return r;
    if (pcm == nullptr || out == nullptr) return static_cast<int>(G7231_ERR_NULL);
    if (pcm_samples != G7231_FRAME_SAMPLES) return static_cast<int>(G7231_ERR_BAD_LENGTH);
    if (out_size < longest_frame(encoder->codec)) return static_cast<int>(G7231_ERR_SHORT_BUFFER);
    std::array<std::int16_t, g7231::kFrameSamples> frame;  // the encoder's working buffer
    std::copy_n(pcm, frame.size(), frame.begin());
    std::array<std::uint8_t, g7231::kMaxFrameBytes> packed;
    g7231::encode_frame(&encoder->codec, frame, packed);
    const std::size_t length = g7231::frame_bytes(g7231::frame_type_of(packed[0]));
    std::memcpy(out, packed.data(), length);
    return static_cast<int>(length);
  });
}

int g7231_encoder_set_rate(g7231_encoder* encoder, int rate) {
  return guarded([&] {
    const int r = check_handle(encoder, kEncoderTag);
    if (r != G7231_OK) return r;
    if (rate != G7231_RATE_5300 && rate != G7231_RATE_6300) return static_cast<int>(G7231_ERR_BAD_OPTION);
    g7231::set_encoder_rate(&encoder->codec, rate == G7231_RATE_6300);
    return static_cast<int>(G7231_OK);
  });
}

int g7231_encoder_get_rate(const g7231_encoder* encoder) {
  const int r = check_handle(encoder, kEncoderTag);
  if (r != G7231_OK) return r;
  return encoder->codec.low_rate != 0 ? G7231_RATE_5300 : G7231_RATE_6300;
}

void g7231_decoder_options_init(g7231_decoder_options* options) {
  if (options == nullptr) return;
  *options = {.postfilter = 1, .tables = nullptr};
}

size_t g7231_decoder_get_size(void) { return sizeof(g7231_decoder); }

int g7231_decoder_init(g7231_decoder* decoder, size_t size, const g7231_decoder_options* options) {
  return init(decoder, size, options, kDecoderTag, &decoder_options);
}

g7231_decoder* g7231_decoder_create(const g7231_decoder_options* options, int* error) {
  return create<g7231_decoder>(options, error, kDecoderTag, &decoder_options);
}

void g7231_decoder_destroy(g7231_decoder* decoder) { destroy(decoder, kDecoderTag); }

int g7231_decode(g7231_decoder* decoder, const uint8_t* frame, size_t frame_size, int16_t* pcm,
                 size_t pcm_samples) {
  return guarded([&] {
    const int r = check_handle(decoder, kDecoderTag);
    if (r != G7231_OK) return r;
    if (pcm == nullptr) return static_cast<int>(G7231_ERR_NULL);
    if (frame == nullptr && frame_size != 0) return static_cast<int>(G7231_ERR_BAD_LENGTH);
    if (pcm_samples < G7231_FRAME_SAMPLES) return static_cast<int>(G7231_ERR_SHORT_BUFFER);
    const bool lost = frame == nullptr;
    const std::span<const std::uint8_t> bytes = lost ? std::span<const std::uint8_t>() : std::span(frame, frame_size);
    g7231::decode_frame(&decoder->codec, bytes, lost, std::span<std::int16_t, g7231::kFrameSamples>(pcm, g7231::kFrameSamples));
    return static_cast<int>(G7231_FRAME_SAMPLES);
  });
}

uint64_t g7231_decoder_frames_concealed(const g7231_decoder* decoder) {
  if (check_handle(decoder, kDecoderTag) != G7231_OK) return 0;
  return decoder->codec.frames_concealed;
}

}  // extern "C"
