#include "codec/tables/table_set.h"
#include "tools/table_set/table_set_view.h"

namespace g7231::tables {

TableSetView builtin_table_set() {
  return {kLspBand0Codebook, kLspBand1Codebook, kLspBand2Codebook, kAcbGainTable85, kAcbGainTable170,
          kTamingGain85,     kTamingGain170,    kSharpLagOffset,   kSharpGain};
}

}  // namespace g7231::tables
