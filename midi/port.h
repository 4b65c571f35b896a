// The one MIDI output port of the program: which device it is, opening and closing it, bringing it to a
// known silent state, short and system-exclusive messages and the master volume. The sequencer
// (midi/sequencer.h) plays songs through it.
//
// Threads: every function here is for the UI thread, but SendFromInput, for the thread of a MIDI input.
// The sequencer's tick runs on the timer thread and reaches the port only between StartPlayback and the
// end of the song; while a song plays, SendShort and SetMasterVolume hand their work to the tick instead
// of touching the device (see drive_state.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace platform {
class MidiOutDevice;
}

namespace midi {

// Device number of the output: -1 the default output, 0..n-1 the devices as last enumerated.
extern int32_t DeviceId;
// DeviceId of a chosen device that has left the device list; the port still opens that device (it
// fails, or succeeds should the device be back).
inline constexpr int32_t kDeviceGone = -2;
// Master volume 0..127 of the port; applied when a test play starts and when the port closes.
extern std::atomic<int32_t> MasterVolume;

// The device that DeviceId names: the object chosen for that number, kept when the list is built anew;
// nullptr when there is no such device.
std::shared_ptr<platform::MidiOutDevice> ChosenDevice();
// Enumerates the devices anew (platform::MidiOutGetNumDevs) and maps DeviceId back to the chosen device:
// its new number, or kDeviceGone. Returns the number of devices. Every rebuild of the list goes through
// here, so that a number never names another device than the one chosen.
int32_t RefreshDeviceList();

// True while the port is open (a successful OpenPort, until ClosePort).
bool PortIsOpen();
// The open device supports the volume call (its volume support flag).
bool SupportsVolume();

// Closes the port if it is open, sets DeviceId and opens that device (ChosenDevice); on success resets
// the port.
// A device that cannot open leaves the port closed; nothing is reported.
void OpenPort(int32_t id);
// The same with a device object instead of a number (tools and tests); DeviceId is left unchanged.
void OpenPortOn(std::shared_ptr<platform::MidiOutDevice> device);
// Stops playback, applies full master volume and closes the device.
void ClosePort();
// F5 02, SilenceAllChannels, F5 01, SilenceAllChannels, then the driver reset.
void ResetPort();
// For each channel 0..15: Reset All Controllers, All Notes Off, All Sound Off.
void SilenceAllChannels();
// A packed short message: at once when no song plays, else queued for the next sequencer tick.
void SendShort(uint32_t msg);
// Sets MasterVolume (clamped to 0..127); applied at once, or at the end of the next tick while a song
// plays.
void SetMasterVolume(int32_t volume);
// The volume call with the master volume in both halves, or, for a device without it, the General MIDI
// Master Volume message. While a song plays only the tick calls it (at the end of its period); the UI
// side goes through SetMasterVolume.
void ApplyMasterVolume();

// A packed short message from the input thread (a MIDI keyboard's note, played at once): on the device
// while no song plays, else queued for the next tick; nothing while the port is closed. It takes Busy
// as the UI side and the tick do, so the device is never called by two threads at once. Any thread but
// the UI thread and the tick.
void SendFromInput(uint32_t msg);

// Program end: closes the port, frees the song buffer and ends the timer thread.
void FinalizeMidiDrive();

// ---- Messages of the main window. They go to the open device at once and do nothing while the port is
// closed. While a song plays they keep to SendShort's rule (queued for the tick; the reset message sent
// while holding Busy, after the queue), so that only one thread calls the device at a time and the
// messages keep their order. Values are taken as the window holds them; every data byte is kept
// to 7 bits and every channel to 4, so a hand-edited setting cannot produce a status byte.

uint32_t PackShort(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0);
// Message kinds (a status byte's high nibble) and the controllers that the window sends and a MIDI
// keyboard's messages are read for.
inline constexpr uint8_t kNoteOff = 0x80;
inline constexpr uint8_t kNoteOn = 0x90;
inline constexpr uint8_t kControlChange = 0xB0;
inline constexpr uint8_t kProgramChange = 0xC0;
inline constexpr uint8_t kChannelPressure = 0xD0;
inline constexpr uint8_t kPitchBend = 0xE0;
inline constexpr uint8_t kBankMsb = 0;
inline constexpr uint8_t kModulation = 1;
inline constexpr uint8_t kBankLsb = 32;
inline constexpr uint8_t kSustain = 64;
// The sound module the window sends for; the settings store and the configuration dialog's list number
// it so. The message builders below take the stored number, which may be any value.
enum DeviceType : int32_t {
  kDeviceNone = 0,  // no reset message
  kDeviceGM = 1,
  kDeviceXG = 2,
  kDeviceGS = 3,
};
inline constexpr int32_t kDeviceTypeCount = 4;
// XG and GS modules have banks (Left/Right select them, the window shows the bank); the others do not.
constexpr bool SelectsBanks(int32_t deviceType) { return deviceType == kDeviceXG || deviceType == kDeviceGS; }
// The controller that carries the bank number: the LSB on XG (its MSB picks the drum kit), the MSB on
// GS; -1 on modules without banks.
constexpr int32_t BankController(int32_t deviceType) {
  return deviceType == kDeviceXG ? kBankLsb : deviceType == kDeviceGS ? kBankMsb : -1;
}

uint32_t NoteOnMessage(int32_t channel, int32_t note, int32_t velocity);
// A Note On with velocity 0.
uint32_t NoteOffMessage(int32_t channel, int32_t note);
// CC 11 127, then CC 7 volume.
std::vector<uint32_t> VolumeControlMessages(int32_t channel, int32_t volume);
// The bank select of `deviceType` (0/1 GM-style zeros, 2 XG, 3 GS, others none), then the program change
// (program 1..128).
std::vector<uint32_t> SelectProgramMessages(int32_t deviceType, int32_t channel, int32_t program,
                                            int32_t bank);
// CC 123 0 (All Notes Off), then CC 121 0 (Reset All Controllers).
std::vector<uint32_t> EndSendStateMessages(int32_t channel);
// GM System On (1), XG System On (2), GS Reset (3); empty for any other type.
std::span<const uint8_t> ResetMessage(int32_t deviceType);

void NoteOn(int32_t channel, int32_t note, int32_t velocity);
void NoteOff(int32_t channel, int32_t note);
void SetVolumeControl(int32_t channel, int32_t volume);
void SelectProgram(int32_t deviceType, int32_t channel, int32_t program, int32_t bank);
void EndSendState(int32_t channel);
// Sends the reset message of `deviceType` as a long message and sleeps until 50 ms have passed on the
// millisecond clock; nothing for type 0 or an unknown type.
void SendReset(int32_t deviceType);

}  // namespace midi
