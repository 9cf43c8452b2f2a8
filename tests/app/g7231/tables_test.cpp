// Table sets in g7231: `tables export` and `tables check`, and encode and decode with --tables. The
// exported built-in set codes the built-in bytes; a set of other values codes other bytes and decodes
// them as the library does with that set; a damaged set is refused before anything is written.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "tests/app/g7231/program.h"
#include "codec/tables/builtin_table_set.h"
#include "codec/tables/table_set_file.h"

namespace g7231::app::test {
namespace {

using Tables = ProgramTest;

TEST_F(Tables, ExportedSetCodesAsTheBuiltInOne) {
  write_file(path("in.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  ASSERT_EQ(run({"tables", "export", path("set.txt")}).status, 0);
  const RunResult checked = run({"tables", "check", path("set.txt")});
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_NE(checked.out.find("Structure the encoder needs: yes"), std::string::npos) << checked.out;

  for (const std::string rate : {"5.3", "6.3"}) {
    ASSERT_EQ(run({"encode", "--rate", rate, path("in.raw"), path("builtin.g723")}).status, 0);
    const RunResult r = run({"encode", "--rate", rate, "--tables", path("set.txt"), path("in.raw"), path("loaded.g723")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(path("loaded.g723")), read_file(path("builtin.g723"))) << rate;
  }
  ASSERT_EQ(run({"decode", path("builtin.g723"), path("builtin.raw")}).status, 0);
  ASSERT_EQ(run({"decode", "--tables", path("set.txt"), path("builtin.g723"), path("loaded.raw")}).status, 0);
  EXPECT_EQ(read_file(path("loaded.raw")), read_file(path("builtin.raw")));
}

TEST_F(Tables, AnotherSetIsUsedByEncodeAndDecode) {
  const std::vector<std::int16_t> speech = load_speech_sample("mmt1.raw");
  write_file(path("in.raw"), pcm_bytes(speech));
  auto other = std::make_unique<TableSet>(kBuiltinTableSet);
  std::reverse(other->lsp_band0.begin() + 1, other->lsp_band0.end());
  other->derive();
  {
    std::ofstream out(path("other.txt"));
    write_table_set(out, *other, "test set");
  }
  ASSERT_EQ(run({"encode", "--tables", path("other.txt"), path("in.raw"), path("other.g723")}).status, 0);
  const std::vector<std::uint8_t> coded = read_file(path("other.g723"));
  EXPECT_EQ(coded, library_packed(speech, {.tables = other.get()}));
  EXPECT_NE(coded, library_packed(speech, {}));

  ASSERT_EQ(run({"decode", "--no-postfilter", "--tables", path("other.txt"), path("other.g723"), path("out.raw")}).status, 0);
  EXPECT_EQ(pcm_samples(read_file(path("out.raw"))), library_decoded(coded, false, other.get()));
}

TEST_F(Tables, ADamagedSetIsRefusedBeforeAnythingIsWritten) {
  write_file(path("in.raw"), pcm_bytes(load_speech_sample("hts1a.raw")));
  ASSERT_EQ(run({"tables", "export", path("set.txt")}).status, 0);
  std::string text = read_text(path("set.txt"));
  const std::size_t row = text.find('\n', text.find("[acb_gain170]")) + 1;
  text.replace(row, text.find('\n', row) - row, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1");
  write_file(path("bad.txt"), std::vector<std::uint8_t>(text.begin(), text.end()));

  for (const std::string command : {"encode", "decode"}) {
    const RunResult r = run({command, "--tables", path("bad.txt"), path("in.raw"), path("out")});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("bad.txt: acb_gain170 (170-entry pitch-gain table): entry 0 is all zero: value 19 is 1"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(path("out"))) << command;
  }
  const RunResult missing = run({"encode", "--tables", path("none.txt"), path("in.raw"), path("out")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.txt: cannot be opened"), std::string::npos) << missing.err;
  EXPECT_EQ(run({"tables"}).status, 2);
  EXPECT_EQ(run({"tables", "check", path("bad.txt")}).status, 1);
}

}  // namespace
}  // namespace g7231::app::test
