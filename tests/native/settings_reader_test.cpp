// The settings file's tokens and keys, as text.
#include "settings/settings_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

struct Case {
  std::string text;
  int32_t rev;
  int32_t pin;
  bool reverse;
  bool pin3;
};

void ExpectRead(const Case& c) {
  const SettingsValues v = ReadSettings(c.text);
  EXPECT_EQ(v.rev, c.rev) << c.text;
  EXPECT_EQ(v.pin, c.pin) << c.text;
  EXPECT_EQ(v.reverse, c.reverse) << c.text;
  EXPECT_EQ(v.pin3, c.pin3) << c.text;
}

}  // namespace

TEST(SettingsReader, KeysAreCaseSensitivePrefixesWithEqualsAndANumber) {
  const Case cases[] = {
      {"", -1, -1, false, false},
      {"FskRev=1 FskPin=3", 1, 3, true, true},
      {"FskRev = 1", -1, -1, false, false},
      {"FskRev=1\nFskRev=0", 0, -1, true, false},
      {"FskRev=0\nFskRev=1", 1, -1, true, false},
      {"FskPin=2", -1, 2, false, false},
      {"FskRevX=1", -1, -1, false, false},
      {"FskRev=1 FskRevX=0 FskRev=", 1, -1, true, false},
      {"fskrev=1 FSKPIN=3 FskRev1 Fsk Rev=1", -1, -1, false, false},
      {"FskRev=1abc FskPin=3//comment", 1, 3, true, true},
      {"FskRev=+1 FskPin=-0003", 1, -3, true, false},
      {"FskRev=-1 FskPin=-", -1, -1, false, false},
      {"FskRev=+-1 FskPin=x3 FskPin=+", -1, -1, false, false},
      {"FskRev=1 FskRev=-1", -1, -1, true, false},
      {"FskPin=3FskRev=1", -1, 3, false, true},
      {"FskRev=00000000000000000001", 1, -1, true, false},
  };
  for (const Case& c : cases) ExpectRead(c);
}

TEST(SettingsReader, BlanksAreTheCLocaleSpacesAndTheEndNeedsNone) {
  const Case cases[] = {
      {"FskRev=1\r\nFskPin=3\r\n", 1, 3, true, true},
      {"\tFskRev=0\vFskPin=1\f", 0, 1, false, false},
      {"  FskPin=3", -1, 3, false, true},
      // A NUL byte is an ordinary character: it ends the digits, not the token.
      {std::string("FskRev=1\0x FskPin\0=3", 20), 1, -1, true, false},
      // Shift_JIS comments around the keys, with the trail byte 0x5C of one
      // character and a lead byte above 0x7F.
      {"FskRev=0 // \x95\x5c\x8e\xa6\r\nFskPin=3 // \x83\x6d\x81\x5b", 0, 3, false, true},
  };
  for (const Case& c : cases) ExpectRead(c);
}

TEST(SettingsReader, NumbersOutsideThe32BitRangeDoNotParse) {
  const Case cases[] = {
      {"FskRev=2147483647 FskPin=-2147483648", 2147483647, INT32_MIN, false, false},
      {"FskRev=2147483648 FskPin=-2147483649", -1, -1, false, false},
      // No wrap-around: 2^32 + 1 would otherwise read as 1.
      {"FskRev=0 FskRev=4294967297", 0, -1, false, false},
      {"FskPin=3 FskPin=99999999999999999999999999999", -1, 3, false, true},
  };
  for (const Case& c : cases) ExpectRead(c);
}

TEST(SettingsReader, RunsLongerThan255AreSkippedWhole) {
  // 255 characters is still one token: its key is read.
  const std::string atLimit = "FskRev=1" + std::string(255 - 8, 'x');
  ExpectRead({atLimit + " FskPin=3", 1, 3, true, true});

  // One more and the whole run is skipped, whatever its head or tail holds.
  ExpectRead({"FskRev=1" + std::string(248, 'x') + " FskPin=3", -1, 3, false, true});
  ExpectRead({std::string(300, 'y') + "FskRev=1 FskPin=3", -1, 3, false, true});
  ExpectRead({"FskRev=" + std::string(248, '0') + "1", -1, -1, false, false});
  ExpectRead({std::string(100000, '\0') + "\nFskRev=0", 0, -1, false, false});
}

TEST(SettingsReader, ChunkBoundariesDoNotMatter) {
  const std::string text =
      "FskRev=1 " + std::string(400, 'z') + " FskPin=3\r\nFskRev=0 " + std::string(255, 'w');
  const SettingsValues whole = ReadSettings(text);
  for (size_t chunk : {1, 2, 7, 254, 255, 256, 4096}) {
    SettingsReader reader;
    for (size_t at = 0; at < text.size(); at += chunk) {
      reader.Feed(text.data() + at, std::min(chunk, text.size() - at));
    }
    reader.Finish();
    EXPECT_EQ(reader.values().rev, whole.rev) << chunk;
    EXPECT_EQ(reader.values().pin, whole.pin) << chunk;
    EXPECT_EQ(reader.values().reverse, whole.reverse) << chunk;
    EXPECT_EQ(reader.values().pin3, whole.pin3) << chunk;
  }
  EXPECT_EQ(whole.rev, 0);
  EXPECT_TRUE(whole.reverse);
  EXPECT_EQ(whole.pin, 3);
}

// FskBox chooses a box by its key: 16 hex digits, either case. Every token
// that names the key, however written, has its say, so a typo never falls
// back to the first box listed (another station's radio, perhaps). What goes
// back to the file chooses as the file did.
TEST(SettingsReader, FskBoxChoosesOneBoxOrNone) {
  constexpr uint64_t kKey = 0x0123456789ABCDEF;
  const std::string key = "FskBox=0123456789abcdef";
  const std::string other = "FskBox=1123456789abcdef";
  const struct {
    std::string text;
    BoxChoiceKind kind;
    size_t kept;
  } cases[] = {
      {"FskRev=1 FskPin=3", BoxChoiceKind::FirstListed, 0},
      {key, BoxChoiceKind::Chosen, 1},
      {"FskBox=0123456789ABCDEF\r\n" + key, BoxChoiceKind::Chosen, 1},
      {key + " " + other, BoxChoiceKind::Malformed, 2},
      {key + " " + key + " " + other + " " + key, BoxChoiceKind::Malformed, 2},
      {"FskBox=bad " + key, BoxChoiceKind::Malformed, 2},
      {"FskBox = 0123456789abcdef", BoxChoiceKind::Malformed, 1},
      {"FskBox=0123456789abcde", BoxChoiceKind::Malformed, 1},
      {key + "0", BoxChoiceKind::Malformed, 1},
      {"fskbox=0123456789abcdef", BoxChoiceKind::Malformed, 1},
      {"\xEF\xBB\xBF" + key, BoxChoiceKind::Malformed, 1},
      {std::string("F\0s\0k\0B\0o\0x\0=\0"
                   "1\0",
                   16),
       BoxChoiceKind::Malformed, 1},
      // Full-width digits, as the IME types them (Shift_JIS).
      {"FskBox=\x82\x4f\x82\x50", BoxChoiceKind::Malformed, 1},
      {key + std::string(300, 'f'), BoxChoiceKind::Malformed, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const SettingsValues v = ReadSettings(c.text);
    EXPECT_EQ(v.box.kind, c.kind);
    EXPECT_EQ(v.box.key, c.kind == BoxChoiceKind::Chosen ? kKey : 0);
    ASSERT_EQ(v.boxTokenCount, c.kept);
    std::string back;
    for (size_t i = 0; i < v.boxTokenCount; ++i)
      back += std::string(v.boxTokens[i].view()) + "\r\n";
    const SettingsValues again = ReadSettings(back);
    EXPECT_EQ(again.box.kind, v.box.kind);
    EXPECT_EQ(again.box.key, v.box.key);
  }
}
