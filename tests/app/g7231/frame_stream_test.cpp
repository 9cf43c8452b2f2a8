// Telling packed streams from records, and reading either whatever it holds.
#include "app/g7231/frame_stream.h"

#include <gtest/gtest.h>

#include "app/g7231/console.h"

namespace g7231::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame of the given type at its natural length, its fields nonzero so that it is told from padding.
Bytes frame(std::uint8_t type) {
  constexpr std::array<std::size_t, 4> kSizes = {24, 20, 4, 1};
  Bytes b(kSizes[type], 0x11);
  b[0] = static_cast<std::uint8_t>(0x10 | type);
  return b;
}

Bytes packed(std::initializer_list<std::uint8_t> types) {
  Bytes out;
  for (std::uint8_t t : types) {
    const Bytes f = frame(t);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

Bytes records(std::initializer_list<std::uint8_t> types, std::size_t record) {
  Bytes out;
  for (std::uint8_t t : types) {
    Bytes f = frame(t);
    f.resize(record, 0);
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

TEST(FrameStream, AutomaticLayoutFollowsTheRule) {
  struct Case {
    const char* what;
    Bytes bytes;
    StreamFormat format;        // expected
    std::size_t record_bytes;   // expected
    std::size_t frames;         // expected
  };
  const std::vector<Case> cases = {
      {"packed with silence", packed({1, 1, 2, 3, 3, 1}), StreamFormat::packed, 0, 6},
      {"packed at both rates", packed({0, 1, 2, 0, 3}), StreamFormat::packed, 0, 5},
      {"20-byte records", records({1, 2, 3, 3, 1}, 20), StreamFormat::records, 20, 5},
      // These records also walk as a packed stream of other frames; the zero padding decides.
      {"24-byte records", records({0, 2, 3, 0}, 24), StreamFormat::records, 24, 4},
      {"20-byte SID records", records({2, 2, 2, 2, 2}, 20), StreamFormat::records, 20, 5},
      // Speech frames alone read the same either way.
      {"5.3 kbit/s speech only", packed({1, 1, 1}), StreamFormat::packed, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FrameStream s = split_frame_stream(c.bytes, StreamFormat::automatic, "x");
    EXPECT_EQ(s.format, c.format);
    EXPECT_EQ(s.record_bytes, c.record_bytes);
    EXPECT_EQ(s.frames.size(), c.frames);
    EXPECT_FALSE(s.cut_short);
  }
}

TEST(FrameStream, AutomaticLayoutRefusesWhatItCannotPlace) {
  Bytes cut = packed({1, 2, 1});
  cut.pop_back();
  for (const auto& [what, bytes, message] :
       std::vector<std::tuple<const char*, Bytes, const char*>>{
           {"empty", {}, "x: is empty"},
           {"cut short", cut, "x: is neither a stream of packed frames nor a file of 20- or 24-byte records"}}) {
    SCOPED_TRACE(what);
    try {
      split_frame_stream(bytes, StreamFormat::automatic, "x");
      ADD_FAILURE() << "accepted";
    } catch (const Failure& f) {
      EXPECT_EQ(std::string(f.what()).rfind(message, 0), 0U) << f.what();
    }
  }
}

TEST(FrameStream, NamedLayoutReadsWhateverTheFileHolds) {
  Bytes cut = packed({1, 3, 0});
  cut.resize(cut.size() - 5);
  const FrameStream p = split_frame_stream(cut, StreamFormat::packed, "x");
  ASSERT_EQ(p.frames.size(), 3U);
  EXPECT_EQ(p.frames[2].size, 19U);
  EXPECT_TRUE(p.cut_short);

  // Records with a nonzero pad: the record length comes from the first speech frame's rate.
  Bytes r = records({3, 0, 2}, 24);
  r[30] = 0;
  r[2] = 0x55;
  const FrameStream q = split_frame_stream(r, StreamFormat::records, "x");
  EXPECT_EQ(q.record_bytes, 24U);
  EXPECT_EQ(q.frames.size(), 3U);
  EXPECT_FALSE(q.cut_short);

  Bytes short_record = records({1, 1}, 20);
  short_record.resize(30);
  const FrameStream t = split_frame_stream(short_record, StreamFormat::records, "x");
  EXPECT_EQ(t.record_bytes, 20U);
  ASSERT_EQ(t.frames.size(), 2U);
  EXPECT_EQ(t.frames[1].size, 10U);
  EXPECT_TRUE(t.cut_short);
}

}  // namespace
}  // namespace g7231::app
