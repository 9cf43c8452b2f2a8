/* records in.raw coded.g723 decoded.raw: codes raw 8 kHz PCM at 5.3 kbit/s with voice activity detection
 * into 20-byte records, as g7231enc does, and decodes each frame without the postfilter into raw PCM, as
 * g7231dec --no-postfilter does, so that both outputs can be compared with those programs'. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <g7231/g7231.h>

#define RECORD_BYTES 20

int main(int argc, char** argv) {
  g7231_decoder_options decoder_options;
  g7231_encoder* encoder;
  g7231_decoder* decoder;
  FILE* files[3];
  unsigned char bytes[2 * G7231_FRAME_SAMPLES];
  int16_t pcm[G7231_FRAME_SAMPLES];
  uint8_t record[G7231_MAX_FRAME_BYTES];
  int result = 0;
  int n;
  int i;

  if (argc != 4) {
    fprintf(stderr, "usage: %s in.raw coded.g723 decoded.raw\n", argv[0]);
    return 2;
  }
  g7231_decoder_options_init(&decoder_options);
  decoder_options.postfilter = 0;
  encoder = g7231_encoder_create(NULL, NULL);
  decoder = g7231_decoder_create(&decoder_options, NULL);
  files[0] = fopen(argv[1], "rb");
  files[1] = fopen(argv[2], "wb");
  files[2] = fopen(argv[3], "wb");
  if (encoder == NULL || decoder == NULL || files[0] == NULL || files[1] == NULL || files[2] == NULL) {
    fprintf(stderr, "records: cannot start\n");
    return 1;
  }
  if (strcmp(g7231_version(), G7231_VERSION_STRING) != 0) {
    fprintf(stderr, "records: header %s, library %s\n", G7231_VERSION_STRING, g7231_version());
    return 1;
  }
  while (result == 0 && fread(bytes, 2, G7231_FRAME_SAMPLES, files[0]) == G7231_FRAME_SAMPLES) {
    for (i = 0; i < G7231_FRAME_SAMPLES; ++i) pcm[i] = (int16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    memset(record, 0, sizeof record);
    n = g7231_encode(encoder, pcm, G7231_FRAME_SAMPLES, record, RECORD_BYTES);
    if (n < 0 || (size_t)n != g7231_frame_size(record[0])) {
      fprintf(stderr, "records: encode: %s\n", g7231_strerror(n));
      result = 1;
      break;
    }
    n = g7231_decode(decoder, record, (size_t)n, pcm, G7231_FRAME_SAMPLES);
    if (n != G7231_FRAME_SAMPLES) {
      fprintf(stderr, "records: decode: %s\n", g7231_strerror(n));
      result = 1;
      break;
    }
    for (i = 0; i < G7231_FRAME_SAMPLES; ++i) {
      bytes[2 * i] = (unsigned char)(pcm[i] & 0xFF);
      bytes[2 * i + 1] = (unsigned char)((pcm[i] >> 8) & 0xFF);
    }
    if (fwrite(record, 1, RECORD_BYTES, files[1]) != RECORD_BYTES ||
        fwrite(bytes, 2, G7231_FRAME_SAMPLES, files[2]) != G7231_FRAME_SAMPLES) {
      result = 1;
    }
  }
  g7231_encoder_destroy(encoder);
  g7231_decoder_destroy(decoder);
  for (i = 0; i < 3; ++i) {
    if (fclose(files[i]) != 0) result = 1;
  }
  return result;
}
