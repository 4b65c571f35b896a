// A MIDI keyboard played into Tonvik: what each incoming message does. Notes sound at once on the
// chosen channel, transposed, with the received velocity; the sustain pedal, modulation, pitch bend
// and channel pressure pass through on that channel; program change and bank select go to the host,
// which selects them as the command keys do. The window and tonvik-mml --record share it.
//
// Threads: Receive runs on the input's thread and sends through midi::SendFromInput; the setters may
// be called from any thread. The host is called on the input's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace record {

class InputHost {
 public:
  virtual ~InputHost() = default;
  // Note `note` (transposed, 0..127) has started (`on`) or ended, at `stamp` on the millisecond clock:
  // show it and capture it as a key's note would be.
  virtual void NotePlayed(int32_t note, bool on, uint32_t stamp) = 0;
  // A program change (1..128): select it with the current bank.
  virtual void ProgramReceived(int32_t program) = 0;
  // A bank select of the device type's kind (XG: LSB, GS: MSB): select the current program in it.
  virtual void BankReceived(int32_t bank) = 0;
};

class InputPlayer {
 public:
  explicit InputPlayer(InputHost& host) : host_(host) { struck_.fill(-1); }

  // The window's channel, transposition and device type, as they change.
  void SetChannel(int32_t channel) { channel_ = channel & 0x0F; }
  void SetTranspose(int32_t transpose) { transpose_ = transpose; }
  void SetDeviceType(int32_t deviceType) { deviceType_ = deviceType; }

  // One message with its arrival time.
  void Receive(uint32_t stamp, std::span<const uint8_t> message);
  // Note-offs for every note that sounds from the input (the input is closed or the port reset).
  // On the input's thread, or after it has ended.
  void ReleaseAll(uint32_t stamp);

 private:
  void NoteOn(int32_t received, int32_t velocity, uint32_t stamp);
  void NoteOff(int32_t received, uint32_t stamp);

  InputHost& host_;
  std::atomic<int32_t> channel_ = 0;
  std::atomic<int32_t> transpose_ = 0;
  std::atomic<int32_t> deviceType_ = 0;
  // The input thread's: per received note, the transposed note it struck (-1 none), and per
  // transposed note, whether it sounds from the input.
  std::array<int32_t, 128> struck_;
  std::array<bool, 128> sounding_{};
};

}  // namespace record
