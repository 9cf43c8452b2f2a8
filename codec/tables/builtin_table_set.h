// The table set built into the library: the values of codec/tables/table_set.h, with what the stages
// derive from them computed at compile time. Encoders and decoders use it unless given another set.
#pragma once

#include "codec/tables/table_set.h"
#include "codec/tables/table_set_types.h"

namespace g7231 {

inline constexpr TableSet kBuiltinTableSet = table_set_of({kLspBand0Codebook, kLspBand1Codebook, kLspBand2Codebook,
                                                          kAcbGainTable85, kAcbGainTable170, kTamingGain85,
                                                          kTamingGain170, kSharpLagOffset, kSharpGain});

}  // namespace g7231
