// Prints the equivalence corpus's hashes (corpus.h), one line each. Built against the operator-by-operator
// library, in which every step runs through the saturating operators: the equivalence test compares the
// optimised library's hashes at every instruction-set level with these.
#include <cstdio>

#include "tests/equivalence/corpus.h"

int main() {
  for (const std::string& line : g7231::corpus_hashes(g7231::equivalence_corpus(), g7231::SimdLevel::scalar)) {
    std::printf("%s\n", line.c_str());
  }
  return 0;
}
