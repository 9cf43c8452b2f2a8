/*
 * g7231: the dual-rate 5.3/6.3 kbit/s speech coder as a C library.
 *
 * Usable from C99 and C++. An encoder turns 30 ms frames of 8 kHz speech (240 16-bit samples) into packed
 * frames of 24, 20, 4 or 1 bytes; a decoder turns packed frames, or the news that one was lost, back into
 * 240 samples. Every call reports failure by a negative error code (enum g7231_error), never by crashing:
 * null pointers, short buffers, wrong lengths and bad options are all checked.
 *
 * Memory. Objects come in two ways. g7231_encoder_create / g7231_decoder_create allocate one object and
 * are paired with g7231_encoder_destroy / g7231_decoder_destroy. Callers that place objects themselves ask
 * g7231_encoder_get_size / g7231_decoder_get_size for the size, provide that many bytes aligned as malloc
 * aligns them, and initialise them with g7231_encoder_init / g7231_decoder_init; such an object holds no
 * other resource, so the caller simply releases the memory (and never calls destroy on it). Nothing is
 * allocated after creation: coding a frame uses the object and the stack only.
 *
 * Threads. The library has no global state. Objects are independent: separate objects may be used on
 * separate threads at once, but one object must not be used by two threads at once. Table sets are
 * immutable once loaded and may be shared by any number of objects on any threads.
 *
 * Streams. The packed frame's first two bits give its type (see enum g7231_frame_type); a stream may
 * change rate, or go to silence and back, from one frame to the next, and the decoder follows. Streams
 * decode correctly only with the table set they were coded with.
 */
#ifndef G7231_G7231_H
#define G7231_G7231_H

#include <stddef.h>
#include <stdint.h>

#include "g7231/version.h"

#if defined(__GNUC__) || defined(__clang__)
#define G7231_API __attribute__((visibility("default")))
#else
#define G7231_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Samples in one frame: 30 ms at 8 kHz. */
#define G7231_FRAME_SAMPLES 240
/* The longest packed frame (active speech at 6.3 kbit/s); an active 5.3 kbit/s frame takes 20 bytes. */
#define G7231_MAX_FRAME_BYTES 24

/* Error codes: every call that can fail returns one of the negative codes below. */
typedef enum g7231_error {
  G7231_OK = 0,
  G7231_ERR_NULL = -1,          /* a required pointer (handle, buffer, options) is null */
  G7231_ERR_BAD_OPTION = -2,    /* an option or argument outside its range */
  G7231_ERR_BAD_LENGTH = -3,    /* a sample count or frame length that the call cannot take */
  G7231_ERR_SHORT_BUFFER = -4,  /* an output buffer or caller-provided memory too small */
  G7231_ERR_BAD_HANDLE = -5,    /* memory that holds no initialised object of the right kind, or misaligned */
  G7231_ERR_NO_MEMORY = -6,     /* an allocation failed */
  G7231_ERR_IO = -7,            /* a table-set file cannot be opened or read */
  G7231_ERR_BAD_TABLES = -8,    /* a table-set file is malformed or its tables fail validation */
  G7231_ERR_INTERNAL = -9       /* an unexpected failure inside the library */
} g7231_error;

/* Bit rates, in bit/s. */
typedef enum g7231_rate {
  G7231_RATE_5300 = 5300, /* ACELP fixed codebook, 20-byte active frames */
  G7231_RATE_6300 = 6300  /* MP-MLQ fixed codebook, 24-byte active frames */
} g7231_rate;

/* The type of a packed frame: the two lowest bits of its first byte. */
typedef enum g7231_frame_type {
  G7231_FRAME_ACTIVE_6300 = 0,   /* active speech at 6.3 kbit/s, 24 bytes */
  G7231_FRAME_ACTIVE_5300 = 1,   /* active speech at 5.3 kbit/s, 20 bytes */
  G7231_FRAME_SID = 2,           /* comfort-noise update (silence descriptor), 4 bytes */
  G7231_FRAME_UNTRANSMITTED = 3  /* silence continuing as before, 1 byte */
} g7231_frame_type;

/* ---------------------------------------------------------------------------------------------------- */
/* Library information. Thread-safe; no failure.                                                        */

/* The library's version, "MAJOR.MINOR.PATCH"; a static string, never freed. */
G7231_API const char* g7231_version(void);

/* A short English description of an error code ("unknown error" for a value not in enum g7231_error);
 * a static string, never freed. */
G7231_API const char* g7231_strerror(int error);

/* The type of a packed frame from its first byte (a value of enum g7231_frame_type). */
G7231_API int g7231_frame_type_of(uint8_t first_byte);

/* The length in bytes of a packed frame from its first byte: 24, 20, 4 or 1. */
G7231_API size_t g7231_frame_size(uint8_t first_byte);

/* ---------------------------------------------------------------------------------------------------- */
/* Table sets. The codec's nine trained tables (LSP codebooks, pitch-gain, taming and sharpening tables)
 * are built in; a set loaded from a file (the format of `g7231 tables export`) replaces them for the
 * objects created with it. A loaded set is immutable: it may be shared by any number of encoders and
 * decoders on any threads, and must outlive every object created with it.                               */

typedef struct g7231_table_set g7231_table_set;

/* Loads and validates the table set in the file at path. On success returns a new set and, when error is
 * not null, stores G7231_OK there; on failure returns null and stores the error: G7231_ERR_NULL (path),
 * G7231_ERR_IO (cannot be opened or read), G7231_ERR_BAD_TABLES (not in the format, or without the
 * structure the codec needs), G7231_ERR_NO_MEMORY. When message is not null and message_size is not 0,
 * a description of the failure naming the line, table and row at fault (an empty string on success) is
 * written there, truncated to message_size bytes including its terminating zero. The set is yours:
 * release it with g7231_table_set_destroy once no object created with it is in use. */
G7231_API g7231_table_set* g7231_table_set_load(const char* path, int* error, char* message, size_t message_size);

/* Releases a loaded set; null is ignored. No object created with the set may be used afterwards. */
G7231_API void g7231_table_set_destroy(g7231_table_set* tables);

/* ---------------------------------------------------------------------------------------------------- */
/* Encoder.                                                                                              */

typedef struct g7231_encoder g7231_encoder;

/* How an encoder codes. Fill with g7231_encoder_options_init, then change what is wanted. */
typedef struct g7231_encoder_options {
  int rate;     /* G7231_RATE_5300 (default) or G7231_RATE_6300 */
  int vad;      /* 1 (default): voice activity detection, silence coded as SID and untransmitted frames;
                   0: every frame coded as active speech */
  int highpass; /* 1 (default): high-pass filter removing DC from the input; 0: off */
  const g7231_table_set* tables; /* null (default): the built-in tables; else a set from
                                    g7231_table_set_load, which must outlive the encoder */
} g7231_encoder_options;

/* Sets the defaults: 5.3 kbit/s, voice activity detection and high-pass filter on, built-in tables.
 * A null pointer is ignored. */
G7231_API void g7231_encoder_options_init(g7231_encoder_options* options);

/* The number of bytes an encoder occupies, for g7231_encoder_init. */
G7231_API size_t g7231_encoder_get_size(void);

/* Initialises an encoder in caller-provided memory of size bytes (at least g7231_encoder_get_size(),
 * aligned as malloc aligns). options null means the defaults. Returns G7231_OK, or G7231_ERR_NULL,
 * G7231_ERR_SHORT_BUFFER, G7231_ERR_BAD_HANDLE (misaligned memory) or G7231_ERR_BAD_OPTION (including a
 * tables pointer that is not a loaded set), leaving the memory untouched. Initialising an object again starts a new stream. */
G7231_API int g7231_encoder_init(g7231_encoder* encoder, size_t size, const g7231_encoder_options* options);

/* Allocates and initialises an encoder; options null means the defaults. Returns null on failure, with
 * the reason in *error when error is not null (G7231_OK on success). Release with g7231_encoder_destroy. */
G7231_API g7231_encoder* g7231_encoder_create(const g7231_encoder_options* options, int* error);

/* Releases an encoder made by g7231_encoder_create; null is ignored. */
G7231_API void g7231_encoder_destroy(g7231_encoder* encoder);

/* Codes one frame. pcm holds pcm_samples = G7231_FRAME_SAMPLES samples, which are read and not changed;
 * out receives the packed frame and has out_size bytes, at least the longest frame of the encoder's
 * current rate (20 at 5.3 kbit/s, G7231_MAX_FRAME_BYTES at 6.3 kbit/s). Returns the packed frame's length
 * (24 or 20 for active speech, 4 for a SID frame, 1 for an untransmitted frame); only that many bytes of
 * out are written. On error (G7231_ERR_NULL, G7231_ERR_BAD_HANDLE, G7231_ERR_BAD_LENGTH,
 * G7231_ERR_SHORT_BUFFER) nothing is written and the encoder is unchanged. */
G7231_API int g7231_encode(g7231_encoder* encoder, const int16_t* pcm, size_t pcm_samples, uint8_t* out,
                           size_t out_size);

/* Changes the rate from the next frame on (G7231_RATE_5300 or G7231_RATE_6300); the stream continues
 * without a break and decoders follow it. Returns G7231_OK, or G7231_ERR_NULL, G7231_ERR_BAD_HANDLE or
 * G7231_ERR_BAD_OPTION (the encoder is then unchanged). */
G7231_API int g7231_encoder_set_rate(g7231_encoder* encoder, int rate);

/* The encoder's current rate (G7231_RATE_5300 or G7231_RATE_6300), or a negative error code. */
G7231_API int g7231_encoder_get_rate(const g7231_encoder* encoder);

/* ---------------------------------------------------------------------------------------------------- */
/* Decoder.                                                                                              */

typedef struct g7231_decoder g7231_decoder;

/* How a decoder decodes. Fill with g7231_decoder_options_init, then change what is wanted. */
typedef struct g7231_decoder_options {
  int postfilter; /* 1 (default): pitch and formant postfilter on the output; 0: off, the output then
                     equals the encoder's own reconstruction sample for sample */
  const g7231_table_set* tables; /* null (default): the built-in tables; else a set from
                                    g7231_table_set_load, which must outlive the decoder */
} g7231_decoder_options;

/* Sets the defaults: postfilter on, built-in tables. A null pointer is ignored. */
G7231_API void g7231_decoder_options_init(g7231_decoder_options* options);

/* The number of bytes a decoder occupies, for g7231_decoder_init. */
G7231_API size_t g7231_decoder_get_size(void);

/* Initialises a decoder in caller-provided memory; as g7231_encoder_init. */
G7231_API int g7231_decoder_init(g7231_decoder* decoder, size_t size, const g7231_decoder_options* options);

/* Allocates and initialises a decoder; as g7231_encoder_create. Release with g7231_decoder_destroy. */
G7231_API g7231_decoder* g7231_decoder_create(const g7231_decoder_options* options, int* error);

/* Releases a decoder made by g7231_decoder_create; null is ignored. */
G7231_API void g7231_decoder_destroy(g7231_decoder* decoder);

/* Decodes one frame into pcm, which has room for pcm_samples samples (at least G7231_FRAME_SAMPLES).
 * frame holds frame_size bytes: the packed frame at its natural length (longer is fine, the rest is
 * ignored). A frame that never arrived is given as frame null with frame_size 0 and is concealed. A frame
 * cut short, or holding values no encoder writes, is concealed as lost too. Returns G7231_FRAME_SAMPLES,
 * all of them written; on error (G7231_ERR_NULL, G7231_ERR_BAD_HANDLE, G7231_ERR_BAD_LENGTH for a null
 * frame with a non-zero size, G7231_ERR_SHORT_BUFFER) nothing is written and the decoder is unchanged. */
G7231_API int g7231_decode(g7231_decoder* decoder, const uint8_t* frame, size_t frame_size, int16_t* pcm,
                           size_t pcm_samples);

/* The number of frames the decoder has concealed (lost, cut short or invalid) since it was initialised;
 * 0 for a null or uninitialised decoder. */
G7231_API uint64_t g7231_decoder_frames_concealed(const g7231_decoder* decoder);

#ifdef __cplusplus
}
#endif

#endif /* G7231_G7231_H */
