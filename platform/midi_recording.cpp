#include "platform/midi_recording.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/clock.h"

namespace platform {
namespace {

// Bytes of a packed short message: how many its status byte takes.
std::vector<uint8_t> ShortBytes(uint32_t packed) {
  const int length = std::max(1, ShortMessageLength(packed & 0xFF));
  std::vector<uint8_t> bytes;
  for (int i = 0; i < length; ++i) {
    bytes.push_back(static_cast<uint8_t>(packed >> (8 * i)));
  }
  return bytes;
}

const char* KindName(MidiCall::Kind kind) {
  switch (kind) {
    case MidiCall::Kind::kOpen:
      return "open";
    case MidiCall::Kind::kClose:
      return "close";
    case MidiCall::Kind::kShort:
      return "short";
    case MidiCall::Kind::kLong:
      return "long";
    case MidiCall::Kind::kReset:
      return "reset";
    case MidiCall::Kind::kVolume:
      return "volume";
  }
  return "?";
}

}  // namespace

std::string ToString(const MidiCall& call) {
  std::string text = std::to_string(call.time) + " " + KindName(call.kind);
  char hex[16];
  if (call.kind == MidiCall::Kind::kVolume) {
    std::snprintf(hex, sizeof hex, " %08X", call.value);
    text += hex;
  }
  for (uint8_t b : call.bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    text += hex;
  }
  return text;
}

RecordingMidiOut::RecordingMidiOut(MidiOutCaps caps, std::shared_ptr<MidiOutDevice> forwardTo)
    : caps_(std::move(caps)), forwardTo_(std::move(forwardTo)) {}

MidiOutCaps RecordingMidiOut::Caps() const { return forwardTo_ ? forwardTo_->Caps() : caps_; }

bool RecordingMidiOut::Prepare(std::function<void()> settled) {
  return forwardTo_ ? forwardTo_->Prepare(std::move(settled)) : true;
}

std::string RecordingMidiOut::Failure() const { return forwardTo_ ? forwardTo_->Failure() : std::string(); }

bool RecordingMidiOut::Open() {
  bool opens;
  {
    std::lock_guard lock(mutex_);
    opens = opens_;
  }
  if (forwardTo_) {
    opens = forwardTo_->Open();
  }
  if (opens) {
    Record({MidiCall::Kind::kOpen, TimeGetTime(), {}});
  }
  return opens;
}

void RecordingMidiOut::Close() {
  Record({MidiCall::Kind::kClose, TimeGetTime(), {}});
  if (forwardTo_) forwardTo_->Close();
}

void RecordingMidiOut::ShortMsg(uint32_t packed) {
  Record({MidiCall::Kind::kShort, TimeGetTime(), ShortBytes(packed), packed});
  if (forwardTo_) forwardTo_->ShortMsg(packed);
}

void RecordingMidiOut::LongMsg(std::span<const uint8_t> bytes) {
  Record({MidiCall::Kind::kLong, TimeGetTime(), std::vector<uint8_t>(bytes.begin(), bytes.end())});
  if (forwardTo_) forwardTo_->LongMsg(bytes);
}

void RecordingMidiOut::Reset() {
  Record({MidiCall::Kind::kReset, TimeGetTime(), {}});
  if (forwardTo_) forwardTo_->Reset();
}

void RecordingMidiOut::SetVolume(uint32_t leftRight) {
  Record({MidiCall::Kind::kVolume, TimeGetTime(), {}, leftRight});
  if (forwardTo_) forwardTo_->SetVolume(leftRight);
}

void RecordingMidiOut::SetOpenResult(bool opens) {
  std::lock_guard lock(mutex_);
  opens_ = opens;
}

void RecordingMidiOut::Reserve(size_t calls) {
  std::lock_guard lock(mutex_);
  calls_.reserve(calls);
}

std::vector<MidiCall> RecordingMidiOut::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<MidiCall> RecordingMidiOut::TakeCalls() {
  std::lock_guard lock(mutex_);
  return std::exchange(calls_, {});
}

std::vector<MidiCall> RecordingMidiOut::Messages() const {
  std::lock_guard lock(mutex_);
  std::vector<MidiCall> messages;
  for (const MidiCall& call : calls_) {
    if (call.IsMessage()) messages.push_back(call);
  }
  return messages;
}

void RecordingMidiOut::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

void RecordingMidiOut::Record(MidiCall call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

}  // namespace platform
