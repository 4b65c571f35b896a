#include "record/capture.h"

#include <gtest/gtest.h>

namespace record {
namespace {

TEST(Capture, TakeOfNoteRestNoteKeepsTimesAndStop) {
  Capture c;
  EXPECT_EQ(ToggleRecording(c, 900), ToggleResult::kStarted);
  EXPECT_TRUE(c.Recording);
  EXPECT_EQ(CaptureEvent(c, 60, 1000), CaptureResult::kStored);
  CaptureNoteRelease(c, 1100);
  EXPECT_EQ(CaptureEvent(c, kRestCode, 1200), CaptureResult::kStored);
  EXPECT_EQ(CaptureEvent(c, 60, 1300), CaptureResult::kStored);
  CaptureNoteRelease(c, 1400);
  EXPECT_EQ(c.CaptureEnd, 1400u);
  EXPECT_EQ(ToggleRecording(c, 1500), ToggleResult::kStopped);
  EXPECT_FALSE(c.Recording);
  EXPECT_EQ(c.CaptureCount, 3);
  EXPECT_EQ(c.CaptureNotes[0], 60);
  EXPECT_EQ(c.CaptureNotes[1], kRestCode);
  EXPECT_EQ(c.CaptureTimes[1], 1200u);
  EXPECT_EQ(c.CaptureTimes[3], 1500u);
  EXPECT_EQ(c.CaptureStart, 1000u);
  EXPECT_EQ(c.CaptureEnd, 1500u);
}

TEST(Capture, StartResetsTheRecordAndEventsOutsideRecordingAreIgnored) {
  Capture c;
  EXPECT_EQ(CaptureEvent(c, 60, 5), CaptureResult::kIgnored);
  CaptureNoteRelease(c, 7);
  EXPECT_EQ(c.CaptureCount, 0);
  EXPECT_EQ(c.CaptureEnd, 0u);
  ToggleRecording(c, 10);
  CaptureEvent(c, 61, 20);
  ToggleRecording(c, 30);
  ToggleRecording(c, 40);
  EXPECT_EQ(c.CaptureCount, 0);
  EXPECT_EQ(c.CaptureStart, 0u);
  EXPECT_EQ(c.CaptureEnd, 0u);
}

TEST(Capture, The4096thEventDiscardsTheTakeAndStopsRecording) {
  Capture c;
  ToggleRecording(c, 1);
  for (int i = 0; i < kMaxCaptureEvents; ++i) {
    ASSERT_EQ(CaptureEvent(c, 60, 100 + i), CaptureResult::kStored);
  }
  EXPECT_EQ(c.CaptureCount, 4095);
  EXPECT_EQ(c.CaptureTimes[4094], 100u + 4094);
  EXPECT_EQ(CaptureEvent(c, 62, 9000), CaptureResult::kOverflow);
  EXPECT_EQ(c.CaptureCount, 0);
  EXPECT_FALSE(c.Recording);
  EXPECT_EQ(CaptureEvent(c, 62, 9001), CaptureResult::kIgnored);
}

TEST(Capture, EscapeDiscardsAndEmptyingKeepsRecordingOff) {
  Capture c;
  ToggleRecording(c, 1);
  CaptureEvent(c, 60, 2);
  DiscardRecording(c);
  EXPECT_EQ(c.CaptureCount, 0);
  EXPECT_FALSE(c.Recording);
  ToggleRecording(c, 3);
  CaptureEvent(c, 60, 4);
  ToggleRecording(c, 5);
  EmptyCapture(c);
  EXPECT_EQ(c.CaptureCount, 0);
  EXPECT_FALSE(c.Recording);
}

}  // namespace
}  // namespace record
