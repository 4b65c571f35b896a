#include "mml/events.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/support/golden.h"

namespace {

using golden::Hex;
using golden::ToHex;

std::string VarLen(int32_t value) {
  std::string out;
  mml::AppendVarLen(out, value);
  return ToHex(out);
}

TEST(EncodeVarLen, GroupsOfSevenBitsMostSignificantFirst) {
  struct Case {
    int32_t value;
    const char* hex;
  } cases[] = {
      {0, "00"},
      {0x40, "40"},
      {0x7F, "7F"},
      {0x80, "81 00"},
      {0x2000, "C0 00"},
      {0x3FFF, "FF 7F"},
      {0x4000, "81 80 00"},
      {0x1FFFFF, "FF FF 7F"},
      {0x200000, "81 80 80 00"},
      {0x0FFFFFFF, "FF FF FF 7F"},
      // Out of range: negatives count as 0, large values are capped to the 4-byte maximum.
      {0x10000000, "FF FF FF 7F"},
      {INT32_MAX, "FF FF FF 7F"},
      {-1, "00"},
      {INT32_MIN, "00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VarLen(c.value), c.hex) << "value " << c.value;
    uint8_t bytes[4];
    EXPECT_EQ(mml::EncodeVarLen(c.value, bytes), static_cast<int>((std::string(c.hex).size() + 1) / 3));
  }
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

TEST(CompareEvents, OrdersByTimeThenStatusClassThenVelocityOrProgram) {
  struct Case {
    int32_t timeA;
    const char* a;
    int32_t timeB;
    const char* b;
    int expected;  // sign of CompareEvents(a, b)
    const char* why;
  } cases[] = {
      {0, "90 3C 64", 1, "B0 07 64", -1, "earlier time first"},
      {-5, "90 3C 64", 0, "FF 51 03 07 A1 20", -1, "negative times sort first"},
      {0, "B0 07 64", 0, "90 3C 64", -1, "controller before note-on"},
      {0, "FF 51 03 07 A1 20", 0, "B0 07 64", -1, "meta before controller"},
      {0, "F0 01 F7", 0, "B0 07 64", -1, "system exclusive before controller"},
      {0, "B5 07 64", 0, "C0 00", -1, "controller before program"},
      {0, "C0 00", 0, "D0 40", -1, "program before channel pressure"},
      {0, "D0 40", 0, "E0 00 40", -1, "channel pressure before pitch bend"},
      {0, "E0 00 40", 0, "A0 3C 10", -1, "pitch bend before key pressure"},
      {0, "A0 3C 10", 0, "80 3C 00", -1, "key pressure before note-off"},
      {0, "80 3C 00", 0, "90 3C 00", -1, "8n before 9n"},
      {0, "90 3C 00", 0, "90 3C 64", -1, "note-off as velocity 0 before note-on"},
      {0, "91 40 10", 0, "90 3C 64", -1, "smaller velocity first, any channel"},
      {0, "C0 05", 0, "C1 09", 1, "higher program first"},
      {0, "C1 09", 0, "C0 05", -1, "higher program first (reversed)"},
      {0, "B0 07 64", 0, "B1 0A 40", 0, "two controllers are equal"},
      {0, "FF 05 01 61", 0, "F0 01 F7", 0, "meta and sysex share a class"},
      {0, "3C 64", 0, "FF 01 01 61", 0, "raw data bytes share the first class"},
      {0, "90", 0, "90 3C", 0, "missing velocity bytes count as 0"},
  };
  for (const Case& c : cases) {
    std::string a = Hex(c.a);
    std::string b = Hex(c.b);
    EXPECT_EQ(Sign(mml::CompareEvents({c.timeA, a}, {c.timeB, b})), c.expected) << c.why;
    EXPECT_EQ(Sign(mml::CompareEvents({c.timeB, b}, {c.timeA, a})), -c.expected) << c.why << " (swapped)";
  }
}

std::vector<std::string> Listing(const mml::TMidiBufferList& list) {
  std::vector<std::string> out;
  for (const mml::TMidiBuffer& e : list) {
    out.push_back(std::to_string(e.Time) + " " + ToHex(e.Data));
  }
  return out;
}

TEST(SortEvents, SortsByEventOrderAndKeepsEqualEventsInInsertionOrder) {
  mml::TMidiBufferList list;
  list.Add(96, Hex("90 3C 00"));
  list.Add(0, Hex("90 3C 64"));
  list.Add(0, Hex("B0 0A 40"));
  list.Add(96, Hex("90 3E 64"));
  list.Add(0, Hex("B0 07 64"));
  list.Add(0, Hex("C0 00"));
  list.Add(0, Hex("FF 51 03 07 A1 20"));
  list.Add(0, Hex("B0 00 01"));
  mml::SortEvents(list);
  std::vector<std::string> expected = {
      "0 FF 51 03 07 A1 20", "0 B0 0A 40",  "0 B0 07 64",  "0 B0 00 01", "0 C0 00",
      "0 90 3C 64",          "96 90 3C 00", "96 90 3E 64",
  };
  EXPECT_EQ(Listing(list), expected);
}

TEST(SortEvents, LeavesSortedAndEmptyListsAlone) {
  mml::TMidiBufferList list;
  mml::SortEvents(list);
  EXPECT_TRUE(list.empty());
  list.Add(0, Hex("B0 07 64"));
  list.Add(0, Hex("B1 07 64"));
  list.Add(5, Hex("90 3C 64"));
  mml::SortEvents(list);
  EXPECT_EQ(Listing(list), (std::vector<std::string>{"0 B0 07 64", "0 B1 07 64", "5 90 3C 64"}));
}

TEST(TMidiBufferList, KeepsEveryEventsBytesWhileGrowingAndClearEmptiesIt) {
  mml::TMidiBufferList list;
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    std::string data(static_cast<size_t>(1 + i % 7), static_cast<char>(i & 0x7F));
    list.Add(i, data);
  }
  list.Add(n, {0xF0, 0x02, 0x7E, 0xF7});
  ASSERT_EQ(list.size(), static_cast<size_t>(n + 1));
  for (int i : {0, 1, 6, 7, 4095, 65536, n - 1}) {
    mml::TMidiBuffer e = list[static_cast<size_t>(i)];
    EXPECT_EQ(e.Time, i);
    EXPECT_EQ(e.Data, std::string(static_cast<size_t>(1 + i % 7), static_cast<char>(i & 0x7F)));
  }
  EXPECT_EQ(ToHex(list[n].Data), "F0 02 7E F7");
  EXPECT_EQ(list[n].Byte(9), 0) << "bytes past the end read as 0";
  list.Clear();
  EXPECT_EQ(list.size(), 0u);
  EXPECT_EQ(list.begin(), list.end());
  EXPECT_EQ(list.DataBytes(), 0u);
  list.Add(7, Hex("C3 05"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Time, 7);
  EXPECT_EQ(ToHex(list[0].Data), "C3 05");
  list.Release();
  EXPECT_TRUE(list.empty());
}

TEST(TMidiBufferList, KeepsExtremeTimesAndEmptyOrLongData) {
  mml::TMidiBufferList list;
  std::string longSysex = "\xF0" + std::string(70000, '\x11');
  list.Add(INT32_MIN, "");
  list.Add(INT32_MAX, longSysex);
  list.Add(-1, Hex("90 3C 64"));
  EXPECT_EQ(list[0].Time, INT32_MIN);
  EXPECT_EQ(list[0].Data, "");
  EXPECT_EQ(list[1].Time, INT32_MAX);
  EXPECT_EQ(list[1].Data, longSysex);
  EXPECT_EQ(list[2].Time, -1);
  mml::SortEvents(list);
  EXPECT_EQ(list[0].Time, INT32_MIN);
  EXPECT_EQ(list[1].Time, -1);
  EXPECT_EQ(list[2].Data, longSysex);
  EXPECT_THROW(list.Add(0, std::string(size_t{1} << 24, '\0')), std::length_error);
  EXPECT_EQ(list.size(), 3u);
}

}  // namespace

namespace {

TEST(AppendEventLine, TickThenUpperCaseHexPairs) {
  struct Case {
    int32_t time;
    const char* hex;
    const char* line;
  } cases[] = {
      {0, "90 3C 64", "0 90 3C 64\n"},
      {-7, "FF 05 02 82 A0", "-7 FF 05 02 82 A0\n"},
      {2147483647, "0a", "2147483647 0A\n"},
      {5, "", "5\n"},
  };
  std::string all;
  for (const Case& c : cases) {
    std::string line;
    mml::AppendEventLine(line, {c.time, Hex(c.hex)});
    EXPECT_EQ(line, c.line);
    all += line;
  }
  EXPECT_EQ(all, "0 90 3C 64\n-7 FF 05 02 82 A0\n2147483647 0A\n5\n");
}

}  // namespace
