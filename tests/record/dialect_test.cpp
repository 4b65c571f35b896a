#include "record/dialect.h"

#include <gtest/gtest.h>

namespace record {
namespace {

struct TurnCase {
  int dialect;
  std::string text;
  std::string own;
};

template <size_t N>
void ExpectTurned(const TurnCase (&cases)[N]) {
  for (const TurnCase& c : cases) {
    EXPECT_EQ(TurnDialectToOwn(c.text, c.dialect), c.own) << "dialect " << c.dialect << ": " << c.text;
  }
}

TEST(TurnDialectToOwn, ReplacesInOrderOnWholeCharacters) {
  const TurnCase cases[] = {
      {0, "c<d&e'^#{}$", "c<d&e'^#{}$"},
      {5, "c<c>c", "c>c<c"},
      {5, "#<>", ">><"},
      {4, "c8&c2", "c8$c2"},
      {6, "c8&c2", "c8$c2"},
      {5, "c8&c2<c", "c8$c2>c"},
      {4, "r8&r2", "r8&2"},
      {4, "r%2&r4&r1", "r%2&4&1"},
      {1, "'ce4g4'", "{ce4g4}"},
      {1, "c8^2", "c8&2"},
      {1, "'c''e'g'", "{c}{e}g{"},
      {2, "c8^2", "c8&2"},
      {3, "c0e0g4", "c0e0g4"},
      {3, "c8&2", "c8&2"},
      {7, "c^'<", "c^'<"},
      // The second byte of a two-byte character is never replaced.
      {1, "\x81^^", "\x81^&"},
      {1, "\x81'''", "\x81'{}"},
      {5, "\x83<<", "\x83<>"},
      {6, "\x82&c&c", "\x82&c$c"},
      {4, "\x82&r8&r2", "\x82&r8&2"},
      {1, "^\x81", "&\x81"},
      {0, "", ""},
  };
  ExpectTurned(cases);
}

TEST(TurnDialectToOwn, SakuraChordLengthMovesInFrontOfTheClosingBrace) {
  const TurnCase cases[] = {
      {1, "'ceg'8^2", "{ceg8&2}"},
      {1, "'ceg'4>c", "{ceg4}>c"},
      {1, "'c>e'4.r8", "{c>e4.}r8"},
      {1, "'ce'6^%2c", "{ce6&%2}c"},
      {1, "'ce'4'gb'8", "{ce4}{gb8}"},
      {1, "'cr0e'4", "{cr0e4}"},
      {1, "c'eg'", "c{eg}"},
      // The old form, with the lengths inside, reads as before.
      {1, "'ce4g4'c8^2", "{ce4g4}c8&2"},
      // The run stops at the first other character, and before a two-byte character.
      {1, "'ce'8^2$c", "{ce8&2}$c"},
      {1, "'ce'8\x81^4", "{ce8}\x81^4"},
      // Only the Sakura dialect has such chords.
      {0, "'ce'8", "'ce'8"},
      {2, "'ce'8^2", "'ce'8&2"},
  };
  ExpectTurned(cases);
}

TEST(Header, TestPlayAndSaveTexts) {
  HeaderValues v{"120", 100, 90, 1, 3, "4"};
  EXPECT_EQ(TestPlayText(v, "ce8>c.r", 0), ":2t120i15s100v127V90@1o3l4ce8>c.r");
  EXPECT_EQ(SaveText(v, "ce8>c.r"), ":1i16s100o3@1t120l4ce8>c.r");
  EXPECT_EQ(TestPlayText(v, "c8^2", 1), ":2t120i15s100v127V90@1o3l4c8&2");
  EXPECT_EQ(SaveText(v, "c8^2"), ":1i16s100o3@1t120l4c8^2");
  v.DefLength.clear();
  v.Octave = -2;
  v.Program = 128;
  EXPECT_EQ(TestPlayHeader(v), ":2t120i15s100v127V90@128o-2");
  EXPECT_EQ(SaveHeader(v), ":1i16s100o-2@128t120");
}

TEST(Header, OctaveOfTheFirstNote) {
  Capture c;
  c.CaptureCount = 3;
  c.CaptureNotes[0] = kRestCode;
  c.CaptureNotes[1] = 72;
  c.CaptureNotes[2] = 30;
  EXPECT_EQ(HeaderOctave(c), 4);
  c.CaptureNotes[1] = kRestCode;
  c.CaptureNotes[2] = kRestCode;
  EXPECT_EQ(HeaderOctave(c), 3);  // rests only: the octave of note 60
  c.CaptureNotes[0] = 0;
  EXPECT_EQ(HeaderOctave(c), -2);
  c.CaptureCount = 0;
  EXPECT_EQ(HeaderOctave(c), 3);
}

}  // namespace
}  // namespace record
