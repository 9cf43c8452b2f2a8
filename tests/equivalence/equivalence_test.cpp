// The optimised encoder and decoder against its operator-by-operator build (every step through the saturating
// operators, no fast path): on bundled speech and synthetic extremes, in all eight configurations, the
// coded bytes, the reconstructed speech and the decoded speech (of the stream as coded and of the stream
// damaged) are the same at every instruction-set level this processor runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fixedpoint/block_ops.h"
#include "tests/equivalence/corpus.h"

namespace g7231 {
namespace {

std::vector<std::string> reference_lines() {
  std::vector<std::string> lines;
  const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(G7231_REFERENCE_HASHES_PATH, "r"), pclose);
  if (!pipe) return lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe.get()) != nullptr) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(Equivalence, EveryLevelCodesAndDecodesWhatTheOperatorByOperatorBuildDoes) {
  ASSERT_TRUE(fx::kExactFastPaths) << "this test needs the build with fast paths";
  const std::vector<std::string> reference = reference_lines();
  const std::vector<Signal> corpus = equivalence_corpus();
  ASSERT_EQ(reference.size(), corpus_line_count(corpus)) << "the reference build's output is incomplete";
  int levels = 0;
  for (const SimdLevel level : {SimdLevel::scalar, SimdLevel::sse41, SimdLevel::avx2, SimdLevel::avx512}) {
    if (!simd_level_available(level)) continue;
    ++levels;
    const std::vector<std::string> lines = corpus_hashes(corpus, level);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i], reference[i]) << "level " << simd_level_name(level);
    }
  }
  EXPECT_GE(levels, 1);
}

}  // namespace
}  // namespace g7231
