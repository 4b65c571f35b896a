#include "platform/midi_out.h"

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

MidiOutDevice* MidiOutOpen(int id) {
  std::shared_ptr<MidiOutDevice> device;
  {
    DeviceList& list = List();
    std::lock_guard lock(list.mutex);
    device = FindLocked(list, id);
  }
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
