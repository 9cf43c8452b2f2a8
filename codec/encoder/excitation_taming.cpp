#include "codec/encoder/excitation_taming.h"

#include <algorithm>

#include "codec/encoder/encoder_state.h"
#include "fixedpoint/basic_ops.h"

namespace g7231 {
namespace {

using namespace fx;

constexpr std::int16_t kZoneFactor = 1092;  // mult16(l, 1092): l / 30 rounded down, one less at multiples of 30

std::int16_t zone(std::int16_t lag) { return mult16(lag, kZoneFactor); }

}  // namespace

std::span<const std::int16_t> taming_gain_table(const TableSet& tables, bool low_rate, std::int16_t lag) {
  if (uses_short_lag_tables(low_rate, lag)) return tables.taming_gain85;
  return tables.taming_gain170;
}

std::int16_t taming_gain_limit(std::int16_t lo, std::int16_t hi, const TamingError& taming_error,
                               std::int16_t sine_detector) {
  const std::int16_t upper = zone(static_cast<std::int16_t>(hi + 2));
  std::int16_t t = static_cast<std::int16_t>(lo - 61);
  if (t <= 0) t = 1;
  const std::int16_t lower = zone(t);

  std::int32_t worst = -1;
  for (std::int16_t z = upper; z >= lower; --z) {
    if (sub32(taming_error[static_cast<std::size_t>(z)], worst) > 0) worst = taming_error[static_cast<std::size_t>(z)];
  }
  const std::int32_t d = sub32(worst, kTamingThreshold);
  if (d > 0 || sine_detector < 0) return 0;
  return extract_low(shr32(negate32(d), 23));
}

void update_taming_error(const TableSet& tables, TamingError& taming_error, std::int16_t base_lag, std::int16_t lag_delta,
                         std::int16_t gain_index, bool low_rate) {
  const std::int16_t g = taming_gain_table(tables, low_rate, base_lag)[static_cast<std::size_t>(gain_index)];
  const auto lag = static_cast<std::int16_t>(base_lag + lag_delta - 1);

  // The estimate of zone i amplified by g, from the estimates as they were before this update.
  const TamingError old = taming_error;
  const auto amplified = [&](std::int16_t i) {
    return add32(kTamingErrorInit, shl32(mult32_32x16(old[static_cast<std::size_t>(i)], g), 2));
  };

  std::int32_t e0;
  std::int32_t e1;
  if (lag <= 30) {
    e0 = e1 = amplified(0);
  } else {
    const std::int16_t z = zone(lag);
    const auto next = static_cast<std::int16_t>(z + 1);
    if (sub16(shl16(next, 5), shl16(next, 1)) == lag) {  // lag is an exact multiple of 30
      e0 = amplified(static_cast<std::int16_t>(z - 1));
      e1 = amplified(z);
    } else if (z == 1) {
      e0 = e1 = std::max(amplified(0), amplified(1));
    } else {
      e0 = std::max(amplified(static_cast<std::int16_t>(z - 2)), amplified(static_cast<std::int16_t>(z - 1)));
      e1 = std::max(amplified(static_cast<std::int16_t>(z - 1)), amplified(z));
    }
  }

  // Age the estimates by one subframe (two zones).
  taming_error[4] = old[2];
  taming_error[3] = old[1];
  taming_error[2] = old[0];
  taming_error[0] = e0;
  taming_error[1] = e1;
}

}  // namespace g7231
