// The table-set commands as a user runs them: export writes the built-in set, check reads it back and
// reports its structure; a damaged file is refused naming its table and row; a failed export leaves
// nothing under the name.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/app/program_runner.h"

namespace g7231 {
namespace {

using TablesCommand = ProgramTest;

RunResult tables(const std::vector<std::string>& args) { return run_program(G7231TABLES_PATH, args); }

std::string text_of(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(TablesCommand, ExportThenCheck) {
  const RunResult exported = tables({"export", path("set.txt")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::string text = text_of(path("set.txt"));
  EXPECT_NE(text.find("[lsp_band0]"), std::string::npos);
  EXPECT_NE(text.find("[sharp_gain]"), std::string::npos);

  const RunResult checked = tables({"check", path("set.txt")});
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("in the table-set format"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("Structure the encoder needs: yes"), std::string::npos) << checked.out;
  EXPECT_NE(checked.out.find("Holds every value published for the standard's set:"), std::string::npos);
  const std::string builtin = tables({}).out;
  EXPECT_EQ(builtin.substr(builtin.find('\n')), checked.out.substr(checked.out.find('\n')))
      << "the file checks as the built-in set does";
}

TEST_F(TablesCommand, DamagedFilesAreRefused) {
  ASSERT_EQ(tables({"export", path("set.txt")}).status, 0);
  std::string text = text_of(path("set.txt"));
  // A decreasing taming table: in the format, without the structure.
  {
    std::string t = text;
    const std::size_t row = t.find('\n', t.find("[taming_gain170]")) + 1;
    t.replace(row, t.find('\n', row) - row, "20000");
    std::ofstream(path("bad.txt")) << t;
  }
  const RunResult structure = tables({"check", path("bad.txt")});
  EXPECT_EQ(structure.status, 1);
  EXPECT_NE(structure.out.find("Structure the encoder needs: no"), std::string::npos) << structure.out;
  EXPECT_NE(structure.out.find("taming_gain170 (170-entry taming table): non-decreasing: entry 1"), std::string::npos)
      << structure.out;

  {
    std::string t = text;
    t.replace(t.find("[acb_gain85]"), 12, "[acb_gain86]");
    std::ofstream(path("malformed.txt")) << t;
  }
  const RunResult format = tables({"check", path("malformed.txt")});
  EXPECT_EQ(format.status, 1);
  EXPECT_NE(format.err.find("unknown table [acb_gain86]"), std::string::npos) << format.err;
  EXPECT_NE(format.err.find("malformed.txt:"), std::string::npos) << format.err;

  const RunResult missing = tables({"check", path("none.txt")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.txt"), std::string::npos) << missing.err;
}

TEST_F(TablesCommand, AFailedExportLeavesNothing) {
  const RunResult r = tables({"export", path("no-such-dir/set.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error writing"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(path("no-such-dir")));
  EXPECT_EQ(tables({"frobnicate"}).status, 2);
}

}  // namespace
}  // namespace g7231
