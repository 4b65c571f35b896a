#include "midi/port.h"

#include <algorithm>
#include <array>
#include <optional>
#include <thread>

#include "midi/drive_state.h"
#include "midi/sequencer.h"
#include "platform/clock.h"
#include "platform/midi_out.h"

namespace midi {

int32_t DeviceId = -1;
std::atomic<int32_t> MasterVolume{127};

namespace detail {

std::atomic<uint32_t> PlayFlags{0};
std::atomic<int32_t> Busy{0};
uint32_t PendingQueue[kPendingQueueSize] = {};
int32_t PendingCount = 0;
platform::MidiOutDevice* Out = nullptr;

void TakeBusy() {
  while (!TryTakeBusy()) {
    platform::SleepMilliseconds(1);
  }
}

void SendPendingQueue() {
  for (int32_t i = 0; i < PendingCount; ++i) {
    Out->ShortMsg(PendingQueue[i]);
  }
  PendingCount = 0;
}

}  // namespace detail

using namespace detail;

namespace {

// Keeps the device alive while the port holds it; Out is its raw pointer for the tick.
std::shared_ptr<platform::MidiOutDevice> MidiOut;
bool PortOpenFlag = false;
// The device that DeviceId named when it was last resolved, and that number.
std::shared_ptr<platform::MidiOutDevice> Chosen;
int32_t ChosenId = -1;
bool SupportsVolumeFlag = false;

uint8_t Data(int32_t value) { return static_cast<uint8_t>(value & 0x7F); }
uint8_t Status(uint8_t kind, int32_t channel) { return static_cast<uint8_t>(kind | (channel & 0x0F)); }
uint32_t Cc(int32_t channel, int32_t controller, int32_t value) {
  return PackShort(Status(kControlChange, channel), Data(controller), Data(value));
}

// Holding Busy: a short message on the device at once while no song plays, queued for the tick during a
// song (the song may have ended while Busy was awaited; then nobody would send the queue).
void SendOrQueueHoldingBusy(uint32_t msg) {
  if (!Out) {
    return;
  }
  if (Playing()) {
    PendingQueue[PendingCount] = msg;
    PendingCount = (PendingCount + 1) & (kPendingQueueSize - 1);
  } else {
    Out->ShortMsg(msg);
  }
}

// A short message of the UI side on the device, in order with everything else the UI side sends,
// under Busy: the input thread sends too.
void SendInOrder(uint32_t msg) {
  if (!Out) {
    return;
  }
  TakeBusy();
  SendOrQueueHoldingBusy(msg);
  ReleaseBusy();
}

// A long message of the UI side, under Busy: during a song after what is queued for the tick.
void SendLongInOrder(std::span<const uint8_t> message) {
  if (!Out) {
    return;
  }
  TakeBusy();
  if (Playing()) {
    SendPendingQueue();
  }
  Out->LongMsg(message);
  ReleaseBusy();
}

void SendInOrder(const std::vector<uint32_t>& msgs) {
  for (uint32_t msg : msgs) SendInOrder(msg);
}

constexpr std::array<uint8_t, 6> kGmSystemOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
constexpr std::array<uint8_t, 9> kXgSystemOn = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
constexpr std::array<uint8_t, 11> kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40,
                                              0x00, 0x7F, 0x00, 0x41, 0xF7};
constexpr uint32_t kResetWaitMs = 50;

}  // namespace

bool PortIsOpen() { return PortOpenFlag; }
bool SupportsVolume() { return SupportsVolumeFlag; }

std::shared_ptr<platform::MidiOutDevice> ChosenDevice() {
  // The remembered object stands while DeviceId is the number it had then and the list still agrees
  // (a gone device is in no list); else DeviceId was set anew and names the device of that number.
  const bool same = Chosen && ChosenId == DeviceId &&
                    (DeviceId == kDeviceGone || platform::MidiOutIndexOf(Chosen.get()) == DeviceId);
  if (!same) {
    ChosenId = DeviceId;
    Chosen = platform::MidiOutGetDevice(DeviceId);
  }
  return Chosen;
}

int32_t RefreshDeviceList() {
  // A number set anew is resolved in the list it was chosen from, before that list goes.
  if (!Chosen || ChosenId != DeviceId) {
    ChosenDevice();
  }
  const int32_t count = platform::MidiOutGetNumDevs();
  if (Chosen && DeviceId != -1) {
    const std::optional<int> index = platform::MidiOutIndexOf(Chosen.get());
    DeviceId = index ? *index : kDeviceGone;
    ChosenId = DeviceId;
  }
  return count;
}

void OpenPort(int32_t id) {
  DeviceId = id;
  OpenPortOn(ChosenDevice());
}

void OpenPortOn(std::shared_ptr<platform::MidiOutDevice> device) {
  if (MidiOut) {
    ClosePort();
  }
  PortOpenFlag = false;
  if (!device || !device->Open()) {
    return;
  }
  MidiOut = std::move(device);
  SupportsVolumeFlag = (MidiOut->Caps().support & platform::kMidiCapsVolume) != 0;
  TakeBusy();
  Out = MidiOut.get();
  ResetPort();
  ReleaseBusy();
  PortOpenFlag = true;
}

void ClosePort() {
  if (!MidiOut) {
    return;
  }
  StopPlayback();
  SetMasterVolume(127);
  TakeBusy();
  Out->Close();
  Out = nullptr;
  ReleaseBusy();
  MidiOut.reset();
  PortOpenFlag = false;
}

void ResetPort() {
  if (!Out) {
    return;
  }
  Out->ShortMsg(PackShort(0xF5, 0x02));
  SilenceAllChannels();
  Out->ShortMsg(PackShort(0xF5, 0x01));
  SilenceAllChannels();
  Out->Reset();
}

void SilenceAllChannels() {
  if (!Out) {
    return;
  }
  for (int32_t channel = 0; channel < 16; ++channel) {
    Out->ShortMsg(Cc(channel, 121, 0));
    Out->ShortMsg(Cc(channel, 123, 0));
    Out->ShortMsg(Cc(channel, 120, 0));
  }
}

void SendShort(uint32_t msg) {
  if (!PortOpenFlag) {
    return;
  }
  SendInOrder(msg);
}

void SetMasterVolume(int32_t volume) {
  if (!PortOpenFlag) {
    return;
  }
  MasterVolume.store(std::clamp(volume, 0, 127), std::memory_order_release);
  TakeBusy();
  if (Playing()) {
    PlayFlags.fetch_or(kVolumeChanged, std::memory_order_acq_rel);
  } else {
    ApplyMasterVolume();
  }
  ReleaseBusy();
}

void ApplyMasterVolume() {
  if (!Out) {
    return;
  }
  const uint32_t volume = static_cast<uint32_t>(MasterVolume.load(std::memory_order_acquire));
  if (SupportsVolumeFlag) {
    const uint32_t w = volume > 0 ? volume * 512 + 511 : 0;
    Out->SetVolume(w | (w << 16));
    return;
  }
  const uint8_t message[8] = {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, static_cast<uint8_t>(volume), 0xF7};
  Out->LongMsg(message);
}

void SendFromInput(uint32_t msg) {
  // The holder of Busy is the UI side or the tick, each for a few messages: spin, never sleep.
  while (!TryTakeBusy()) {
    std::this_thread::yield();
  }
  SendOrQueueHoldingBusy(msg);
  ReleaseBusy();
}

void FinalizeMidiDrive() {
  ClosePort();
  FreeSongBuffer();
  StopTimerThread();
}

uint32_t PackShort(uint8_t status, uint8_t data1, uint8_t data2) {
  return status | (static_cast<uint32_t>(data1) << 8) | (static_cast<uint32_t>(data2) << 16);
}

uint32_t NoteOnMessage(int32_t channel, int32_t note, int32_t velocity) {
  return PackShort(Status(kNoteOn, channel), Data(note), Data(velocity));
}

uint32_t NoteOffMessage(int32_t channel, int32_t note) { return NoteOnMessage(channel, note, 0); }

std::vector<uint32_t> VolumeControlMessages(int32_t channel, int32_t volume) {
  return {Cc(channel, 11, 127), Cc(channel, 7, volume)};
}

std::vector<uint32_t> SelectProgramMessages(int32_t deviceType, int32_t channel, int32_t program,
                                            int32_t bank) {
  std::vector<uint32_t> msgs;
  switch (deviceType) {
    case kDeviceNone:
    case kDeviceGM:
      msgs = {Cc(channel, kBankLsb, 0), Cc(channel, kBankMsb, 0)};
      break;
    case kDeviceXG:  // the drum kit is MSB 127
      msgs = {Cc(channel, kBankLsb, bank), Cc(channel, kBankMsb, (channel & 0x0F) == 9 ? 127 : 0)};
      break;
    case kDeviceGS:
      msgs = {Cc(channel, kBankMsb, bank), Cc(channel, kBankLsb, 0)};
      break;
    default:
      break;
  }
  msgs.push_back(PackShort(Status(kProgramChange, channel), Data(program - 1)));
  return msgs;
}

std::vector<uint32_t> EndSendStateMessages(int32_t channel) {
  return {Cc(channel, 123, 0), Cc(channel, 121, 0)};
}

std::span<const uint8_t> ResetMessage(int32_t deviceType) {
  switch (deviceType) {
    case kDeviceGM:
      return kGmSystemOn;
    case kDeviceXG:
      return kXgSystemOn;
    case kDeviceGS:
      return kGsReset;
    default:
      return {};
  }
}

void NoteOn(int32_t channel, int32_t note, int32_t velocity) {
  SendInOrder(NoteOnMessage(channel, note, velocity));
}
void NoteOff(int32_t channel, int32_t note) { SendInOrder(NoteOffMessage(channel, note)); }
void SetVolumeControl(int32_t channel, int32_t volume) {
  SendInOrder(VolumeControlMessages(channel, volume));
}
void SelectProgram(int32_t deviceType, int32_t channel, int32_t program, int32_t bank) {
  SendInOrder(SelectProgramMessages(deviceType, channel, program, bank));
}
void EndSendState(int32_t channel) { SendInOrder(EndSendStateMessages(channel)); }

void SendReset(int32_t deviceType) {
  const std::span<const uint8_t> message = ResetMessage(deviceType);
  if (message.empty() || !Out) {
    return;
  }
  SendLongInOrder(message);
  const uint32_t start = platform::TimeGetTime();
  for (uint32_t passed; (passed = platform::TimeGetTime() - start) < kResetWaitMs;) {
    platform::SleepMilliseconds(kResetWaitMs - passed);
  }
}

}  // namespace midi
