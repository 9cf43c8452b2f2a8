/* Compiled as strict C99 (-std=c99 -pedantic-errors): the public header must be plain C. The function
 * touches every type, constant and call of the header and is run by c_api_test. */
#include "g7231/g7231.h"

int g7231_c99_header_check(void);

int g7231_c99_header_check(void) {
  g7231_encoder_options eo;
  g7231_decoder_options dopt;
  g7231_encoder* enc;
  g7231_decoder* dec;
  int16_t pcm[G7231_FRAME_SAMPLES] = {0};
  uint8_t frame[G7231_MAX_FRAME_BYTES];
  int error = G7231_ERR_INTERNAL;
  int n;
  const g7231_table_set* tables = NULL;
  g7231_frame_type type = G7231_FRAME_UNTRANSMITTED;
  g7231_rate rate = G7231_RATE_6300;
  g7231_error ok = G7231_OK;

  g7231_encoder_options_init(&eo);
  g7231_decoder_options_init(&dopt);
  eo.rate = rate;
  eo.tables = tables;
  dopt.tables = tables;
  enc = g7231_encoder_create(&eo, &error);
  dec = g7231_decoder_create(&dopt, &error);
  if (enc == NULL || dec == NULL || error != (int)ok) return 1;
  if (g7231_encoder_set_rate(enc, G7231_RATE_5300) != G7231_OK || g7231_encoder_get_rate(enc) != G7231_RATE_5300) {
    return 2;
  }
  n = g7231_encode(enc, pcm, G7231_FRAME_SAMPLES, frame, sizeof frame);
  if (n <= 0 || (size_t)n != g7231_frame_size(frame[0])) return 3;
  if (g7231_decode(dec, frame, (size_t)n, pcm, G7231_FRAME_SAMPLES) != G7231_FRAME_SAMPLES) return 4;
  if (g7231_decode(dec, NULL, 0, pcm, G7231_FRAME_SAMPLES) != G7231_FRAME_SAMPLES) return 5;
  if (g7231_decoder_frames_concealed(dec) != 1 || g7231_frame_type_of(3) != (int)type) return 6;
  if (g7231_encoder_get_size() == 0 || g7231_decoder_get_size() == 0) return 7;
  if (g7231_encoder_init(NULL, 0, NULL) != G7231_ERR_NULL || g7231_decoder_init(NULL, 0, NULL) != G7231_ERR_NULL) {
    return 8;
  }
  if (g7231_version()[0] == '\0' || g7231_strerror(G7231_ERR_NULL)[0] == '\0') return 9;
  g7231_encoder_destroy(enc);
  g7231_decoder_destroy(dec);
  return 0;
}
