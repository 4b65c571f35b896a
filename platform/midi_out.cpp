#include "platform/midi_out.h"

#include <future>
#include <mutex>

namespace platform {
namespace {

struct DeviceList {
  std::mutex mutex;
  bool testing = false;
  bool enumerated = false;
  std::shared_ptr<MidiOutDevice> defaultDevice;
  std::vector<std::shared_ptr<MidiOutDevice>> devices;
};

DeviceList& List() {
  static DeviceList list;
  return list;
}

void EnumerateLocked(DeviceList& list) {
  list.enumerated = true;
  if (list.testing) {
    return;
  }
  list.defaultDevice = DefaultMidiOutDevice();
  list.devices.clear();
  for (const MidiBackend& backend : MidiBackends()) {
    for (auto& device : backend.devices()) {
      if (device) {
        list.devices.push_back(std::move(device));
      }
    }
  }
}

std::shared_ptr<MidiOutDevice> FindLocked(DeviceList& list, int id) {
  if (!list.enumerated) {
    EnumerateLocked(list);
  }
  if (id == -1) {
    return list.defaultDevice;
  }
  if (id < 0 || static_cast<size_t>(id) >= list.devices.size()) {
    return nullptr;
  }
  return list.devices[static_cast<size_t>(id)];
}

}  // namespace

int ShortMessageLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0) || status == 0xF2) return 3;
  if (status < 0xE0 || status == 0xF1 || status == 0xF3 || status == 0xF5) return 2;
  return 1;
}

int MidiOutGetNumDevs() {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  EnumerateLocked(list);
  return static_cast<int>(list.devices.size());
}

bool MidiOutGetDevCaps(int id, MidiOutCaps* caps) {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  auto device = FindLocked(list, id);
  if (!device) {
    return false;
  }
  *caps = device->Caps();
  return true;
}

std::shared_ptr<MidiOutDevice> MidiOutGetDevice(int id) {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  return FindLocked(list, id);
}

std::optional<int> MidiOutIndexOf(const MidiOutDevice* device) {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  if (device == nullptr || !list.enumerated) {
    return std::nullopt;
  }
  if (device == list.defaultDevice.get()) {
    return -1;
  }
  for (size_t i = 0; i < list.devices.size(); ++i) {
    if (list.devices[i].get() == device) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

void WaitUntilSettled(MidiOutDevice& device) {
  auto settled = std::make_shared<std::promise<void>>();
  if (device.Prepare([settled] { settled->set_value(); })) {
    return;
  }
  settled->get_future().wait();
}

MidiOutDevice* MidiOutOpen(int id) {
  std::shared_ptr<MidiOutDevice> device = MidiOutGetDevice(id);
  if (!device || !device->Open()) {
    return nullptr;
  }
  return device.get();
}

void SetMidiOutDevicesForTesting(std::shared_ptr<MidiOutDevice> defaultDevice,
                                 std::vector<std::shared_ptr<MidiOutDevice>> devices) {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  list.testing = true;
  list.enumerated = true;
  list.defaultDevice = std::move(defaultDevice);
  list.devices = std::move(devices);
}

void ClearMidiOutDevicesForTesting() {
  DeviceList& list = List();
  std::lock_guard lock(list.mutex);
  list.testing = false;
  list.enumerated = false;
  list.defaultDevice.reset();
  list.devices.clear();
}

}  // namespace platform
