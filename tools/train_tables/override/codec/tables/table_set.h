// Training build of the table set: the same tables, mutable, so that the training tool can install a
// candidate set between passes over the corpus. Found before codec/tables/table_set.h only by the
// training tool's copy of the encoder.
#pragma once

#include <array>
#include <cstdint>

#include "codec/tables/table_set_types.h"

namespace g7231 {

inline LspCodebook<3> kLspBand0Codebook{};
inline LspCodebook<3> kLspBand1Codebook{};
inline LspCodebook<4> kLspBand2Codebook{};
inline AcbGainTable<kAcbShortLagEntries> kAcbGainTable85{};
inline AcbGainTable<kAcbEntries> kAcbGainTable170{};
inline std::array<std::int16_t, kAcbShortLagEntries> kTamingGain85{};
inline std::array<std::int16_t, kAcbEntries> kTamingGain170{};
inline std::array<std::int16_t, kAcbEntries> kSharpLagOffset{};
inline std::array<std::int16_t, kAcbEntries> kSharpGain{};

}  // namespace g7231
