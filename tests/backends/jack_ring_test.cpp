#include "platform/backends/jack_ring.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

// Drains into a list, with room for `room` messages (the rest stays queued) and dropping records
// longer than `largest`.
std::vector<Bytes> DrainAll(JackMidiRing& ring, size_t room = 1000, size_t largest = 1000) {
  std::vector<Bytes> out;
  ring.Drain(
      [&](size_t length) -> uint8_t* {
        if (out.size() == room) {
          return nullptr;
        }
        out.emplace_back(length);
        return out.back().data();
      },
      [&](size_t length) { return length > largest; });
  return out;
}

Bytes Message(uint8_t first, size_t length) {
  Bytes m(length);
  for (size_t i = 0; i < length; ++i) {
    m[i] = static_cast<uint8_t>(first + i);
  }
  return m;
}

TEST(JackMidiRing, KeepsOrderAcrossTheWrapOfTheBuffer) {
  JackMidiRing ring(64);  // 63 usable bytes: records of 4 + n bytes wrap at different places
  std::vector<Bytes> sent;
  std::vector<Bytes> received;
  uint8_t next = 0;
  for (size_t length : {3, 1, 11, 2, 6, 3, 3, 9, 2, 1, 13, 3, 3, 5, 7, 2, 3, 3, 1, 11}) {
    Bytes m = Message(next++, length);
    if (!ring.TryPush(m)) {
      for (Bytes& got : DrainAll(ring, 2)) {
        received.push_back(got);
      }
      ASSERT_TRUE(ring.TryPush(m)) << "room after draining";
    }
    sent.push_back(m);
  }
  for (Bytes& got : DrainAll(ring)) {
    received.push_back(got);
  }
  EXPECT_EQ(received, sent);
}

TEST(JackMidiRing, ARecordSplitAtAnyPlaceOfTheWrapComesBackWhole) {
  for (size_t filler = 0; filler <= 58; ++filler) {
    JackMidiRing ring(64);
    ASSERT_TRUE(ring.TryPush(Message(0, filler)));
    DrainAll(ring);  // the next record starts 4 + filler bytes in, so the wrap cuts it there
    const Bytes m = Message(0x40, 9);
    ASSERT_TRUE(ring.TryPush(m));
    EXPECT_EQ(DrainAll(ring), std::vector<Bytes>{m}) << "starting at byte " << 4 + filler;
  }
}

TEST(JackMidiRing, AFullRingRefusesAndTooLongNeverFits) {
  JackMidiRing ring(64);
  EXPECT_FALSE(ring.CanHold(60));
  EXPECT_FALSE(ring.TryPush(Message(0, 60)));
  EXPECT_TRUE(ring.CanHold(59));
  EXPECT_TRUE(ring.TryPush(Message(0, 30)));
  EXPECT_FALSE(ring.TryPush(Message(0, 30))) << "only 29 bytes left";
  EXPECT_TRUE(ring.TryPush(Message(0, 25)));
  EXPECT_EQ(DrainAll(ring).size(), 2u);
}

TEST(JackMidiRing, ARecordTheReaderCannotTakeIsDroppedAndTheRestGoesOn) {
  JackMidiRing ring(256);
  ring.TryPush(Message(1, 3));
  ring.TryPush(Message(2, 40));
  ring.TryPush(Message(3, 2));
  EXPECT_EQ(DrainAll(ring, 1000, 16), (std::vector<Bytes>{Message(1, 3), Message(3, 2)}));
  EXPECT_TRUE(DrainAll(ring).empty());
}

TEST(JackMidiRing, StampedRecordsCarryTheirStamp) {
  JackMidiRing ring(64);
  EXPECT_TRUE(ring.Empty());
  ASSERT_TRUE(ring.TryPushStamped(0xFFFFFFF0u, Message(1, 3)));
  ASSERT_TRUE(ring.TryPushStamped(7, Message(2, 2)));
  EXPECT_FALSE(ring.Empty());
  std::vector<std::pair<uint32_t, Bytes>> out;
  ring.DrainStamped(
      [&](size_t length, uint32_t stamp) -> uint8_t* {
        out.emplace_back(stamp, Bytes(length));
        return out.back().second.data();
      },
      [](size_t) { return false; });
  EXPECT_EQ(out, (std::vector<std::pair<uint32_t, Bytes>>{{0xFFFFFFF0u, Message(1, 3)}, {7, Message(2, 2)}}));
  EXPECT_TRUE(ring.Empty());
}

// A reader that has stopped (a stalled server): a whole batch waits once, for the batch's deadline,
// then what does not fit is dropped and counted; a message that fits at once starts afresh.
// Periods of 64 frames; the previous one started at frame 1000.
TEST(PeriodOffset, OnePeriodLaterAtTheSameOffsetElseAsSoonAsPossible) {
  struct Case {
    const char* what;
    uint32_t stamp;
    uint32_t earliest;
    std::optional<uint32_t> offset;
  };
  const Case cases[] = {
      {"sent in the previous period: the same offset", 1010, 0, 10},
      {"not before the message ahead of it", 1010, 20, 20},
      {"at the previous period's last frame", 1063, 0, 63},
      {"sent in this period: the next one takes it", 1064, 0, std::nullopt},
      {"at this period's last frame: the next one takes it", 1127, 0, std::nullopt},
      {"older than the previous period: as soon as possible", 900, 5, 5},
      {"across the wrap of the frame counter", 0xFFFFFFF0u, 0, 0},
      // A frame clock that runs ahead of the cycles (a dummy driver's that falls behind) stamps messages
      // beyond this period: they are due now, not at the period's end.
      {"beyond this period: as soon as possible", 1128, 0, 0},
      {"far beyond this period: as soon as possible", 1900, 7, 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PeriodOffset(c.stamp, 1000, 64, c.earliest), c.offset) << c.what;
  }
}

TEST(JackRingWriter, ABatchSharesOneDeadlineThenDropsAndCounts) {
  using namespace std::chrono;
  JackMidiRing ring(64);
  steady_clock::time_point now{};
  milliseconds slept{0};
  JackRingWriter writer(
      ring, milliseconds(200), [&] { return now; },
      [&](milliseconds wait) {
        now += wait;
        slept += wait;
      });
  auto alive = [] { return true; };
  int sent = 0;
  while (writer.Send(0, Message(0, 3), alive) && slept == milliseconds(0)) ++sent;
  EXPECT_EQ(sent, 5) << "63 bytes hold five records of 4 + 4 + 3 bytes";
  EXPECT_EQ(slept, milliseconds(200)) << "the first message that does not fit waits for the deadline";
  for (int i = 0; i < 160; ++i) {
    EXPECT_FALSE(writer.Send(0, Message(0, 3), alive));
  }
  EXPECT_EQ(slept, milliseconds(200)) << "the rest of the batch waits no more";
  EXPECT_EQ(writer.Dropped(), 161u);

  DrainAll(ring);  // the reader runs again
  EXPECT_TRUE(writer.Send(0, Message(0, 3), alive)) << "fits at once: the batch is over";
  while (writer.Send(0, Message(0, 3), alive)) {
  }
  EXPECT_EQ(slept, milliseconds(400)) << "a new batch waits once more";

  const Bytes huge(100, 0);
  EXPECT_FALSE(writer.Send(0, huge, alive)) << "a message that can never fit is dropped at once";
  EXPECT_EQ(slept, milliseconds(400));
  EXPECT_EQ(writer.Dropped(), 163u);
}

}  // namespace
}  // namespace platform
