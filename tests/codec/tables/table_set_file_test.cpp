// Table sets as text: the built-in set written and read back is the same set and codes the same bytes; a
// set of other values is used by encoder and decoder alike; every way a file can be wrong is refused with
// a message naming the line, table and row.
#include "codec/tables/table_set_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codec/decoder/decoder.h"
#include "codec/encoder/encoder.h"
#include "codec/tables/builtin_table_set.h"
#include "tests/speech_samples.h"

namespace g7231 {
namespace {

std::string exported(const TableSet& set) {
  std::ostringstream out;
  write_table_set(out, set, "a test set\n\nsecond line");
  return out.str();
}

TableSetLoad read(const std::string& text, TableSet& set, std::string& message) {
  std::istringstream in(text);
  return read_table_set(in, "set.txt", set, message);
}

// The coded bytes of a speech file at a rate, with the set given (null: built in).
std::vector<std::uint8_t> coded(const std::vector<std::int16_t>& speech, bool high_rate, const TableSet* tables) {
  G7231Encoder* enc = create_encoder({.high_rate = high_rate, .tables = tables});
  std::vector<std::uint8_t> bytes;
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> out;
    encode_frame(enc, frame, out);
    bytes.insert(bytes.end(), out.begin(), out.end());
  }
  destroy_encoder(enc);
  return bytes;
}

TEST(TableSetFile, ExportThenLoadGivesTheBuiltInSetAndItsBytes) {
  const std::string text = exported(kBuiltinTableSet);
  EXPECT_EQ(text.rfind("# a test set\n#\n# second line\n", 0), 0u) << "the header comment comes first";
  auto loaded = std::make_unique<TableSet>();
  std::string message = "stale";
  ASSERT_EQ(read(text, *loaded, message), TableSetLoad::ok) << message;
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(*loaded == kBuiltinTableSet) << "tables or derived values differ";
  EXPECT_EQ(exported(*loaded), text);

  const std::vector<std::int16_t> speech = load_speech_sample("cross.raw");
  for (const bool high_rate : {false, true}) {
    EXPECT_EQ(coded(speech, high_rate, loaded.get()), coded(speech, high_rate, nullptr)) << high_rate;
  }
}

// A set of other values, with the structure the encoder needs: the encoder codes other bytes, and a
// decoder with the same set still follows the encoder exactly.
TEST(TableSetFile, AnotherSetIsUsedByEncoderAndDecoder) {
  auto other = std::make_unique<TableSet>(kBuiltinTableSet);
  std::reverse(other->lsp_band1.begin() + 1, other->lsp_band1.end());  // row 0 stays zero
  for (auto& g : other->sharp_gain) g = static_cast<std::int16_t>(g / 2);
  other->derive();
  const std::vector<std::int16_t> speech = load_speech_sample("hts1a.raw");
  EXPECT_NE(coded(speech, false, other.get()), coded(speech, false, nullptr));

  G7231Encoder* enc = create_encoder({.tables = other.get()});
  G7231Decoder* dec = create_decoder({.postfilter = false, .tables = other.get()});
  for (std::size_t f = 0; f + kFrameSamples <= speech.size(); f += kFrameSamples) {
    std::array<std::int16_t, kFrameSamples> frame;
    std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, frame.begin());
    std::array<std::uint8_t, kMaxFrameBytes> packed;
    encode_frame(enc, frame, packed);
    std::array<std::int16_t, kFrameSamples> out;
    decode_frame(dec, std::span(packed).first(frame_bytes(frame_type_of(packed[0]))), false, out);
    ASSERT_EQ(out, frame) << "frame " << f / kFrameSamples;
  }
  destroy_encoder(enc);
  destroy_decoder(dec);
}

TEST(TableSetFile, CommentsBlankLinesAndSectionOrderAreFree) {
  std::string text = exported(kBuiltinTableSet);
  // Move the first section to the end, and decorate.
  const std::size_t second = text.find("\n# ", text.find("[lsp_band0]"));
  const std::size_t first = text.rfind("\n# ", text.find("[lsp_band0]"));
  text = text.substr(0, first) + text.substr(second) + text.substr(first, second - first) + "\n\n   # trailing\n";
  text.replace(text.find("[taming_gain85]"), 15, "  [ taming_gain85 ]   # spaced");
  auto set = std::make_unique<TableSet>();
  std::string message;
  EXPECT_EQ(read(text, *set, message), TableSetLoad::ok) << message;
  EXPECT_TRUE(*set == kBuiltinTableSet);
}

// Replaces the first occurrence of `from` after the section header `section` with `to`.
std::string with(std::string text, const std::string& section, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from, text.find("[" + section + "]"));
  return text.replace(at, from.size(), to);
}

TEST(TableSetFile, MalformedFilesAreRefusedNamingWhere) {
  const std::string good = exported(kBuiltinTableSet);
  std::ostringstream row1_text;
  const auto& r1 = kBuiltinTableSet.lsp_band0[1];
  row1_text << "\n" << r1[0] << " " << r1[1] << " " << r1[2] << "\n";
  const std::string row1 = row1_text.str();
  struct Case {
    const char* what;
    std::string text;
    TableSetLoad expected;
    std::string message;  // a part of the message
  };
  const std::vector<Case> cases = {
      {"unknown table", good + "[lsp_band3]\n", TableSetLoad::malformed, "unknown table [lsp_band3]"},
      {"a table twice", good + "[sharp_gain]\n", TableSetLoad::malformed, "table [sharp_gain] appears a second time"},
      {"a table missing", good.substr(0, good.find("\n# ", good.find("[sharp_lag_offset]") - 200)),
       TableSetLoad::malformed, "is missing"},
      {"values first", "1 2 3\n" + good, TableSetLoad::malformed, "set.txt:1: values before the first [table] line"},
      {"a row short", with(good, "lsp_band0", row1, "\n1 2\n"), TableSetLoad::malformed,
       "table lsp_band0, row 1: 2 values; each row has 3"},
      {"a row long", with(good, "taming_gain85", "\n1024\n", "\n1024 5\n"), TableSetLoad::malformed,
       "table taming_gain85, row 0: 2 values; each row has 1"},
      {"not a number", with(good, "lsp_band0", row1, "\n1 2 x3\n"), TableSetLoad::malformed,
       "table lsp_band0, row 1: 'x3' is not an integer"},
      {"out of range", with(good, "lsp_band0", row1, "\n1 2 32768\n"), TableSetLoad::malformed,
       "table lsp_band0, row 1: 32768 is outside -32768..32767"},
      {"a row too few", with(good, "lsp_band0", row1, "\n"), TableSetLoad::malformed,
       "table lsp_band0 has 255 rows; it needs 256"},
      {"a row too many", with(good, "lsp_band0", row1, row1 + "1 1 1\n"), TableSetLoad::malformed,
       "table lsp_band0 has more than its 256 rows"},
      {"a bracket open", with(good, "lsp_band1", "[lsp_band1]", "[lsp_band1"), TableSetLoad::malformed,
       "a section name must stand alone in brackets"},
      {"structure: first row not zero", with(good, "lsp_band0", "[lsp_band0]\n0 0 0", "[lsp_band0]\n0 0 1"),
       TableSetLoad::invalid, "set.txt: lsp_band0 (LSP band 0 codebook): row 0 is all zero: value 2 is 1"},
      {"structure: taming decreasing", with(good, "taming_gain170", "\n1844\n", "\n1000\n"), TableSetLoad::invalid,
       "taming_gain170 (170-entry taming table): non-decreasing: entry 1 (1000) below entry 0 (1024)"},
      {"empty", "", TableSetLoad::malformed, "table [lsp_band0] is missing"},
  };
  for (const Case& c : cases) {
    auto set = std::make_unique<TableSet>();
    std::string message;
    EXPECT_EQ(read(c.text, *set, message), c.expected) << c.what << ": " << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_TRUE(*set == TableSet{}) << c.what << ": a refused file changed the set";
  }
}

TEST(TableSetFile, AFileThatCannotBeOpened) {
  auto set = std::make_unique<TableSet>();
  std::string message;
  EXPECT_EQ(load_table_set("/nonexistent/tables.txt", *set, message), TableSetLoad::unreadable);
  EXPECT_EQ(message, "/nonexistent/tables.txt: cannot be opened");
}

}  // namespace
}  // namespace g7231
