#include "platform/backends/midi_bytes.h"

namespace platform {

int SendableMessageLength(uint8_t status) {
  switch (status) {
    case 0xF0:
    case 0xF4:
    case 0xF5:
    case 0xF7:
      return 0;
    default:
      return ShortMessageLength(status);
  }
}

int UnpackShortMessage(uint32_t packed, std::array<uint8_t, 3>& bytes) {
  bytes = {static_cast<uint8_t>(packed & 0xFF), static_cast<uint8_t>((packed >> 8) & 0x7F),
           static_cast<uint8_t>((packed >> 16) & 0x7F)};
  return SendableMessageLength(bytes[0]);
}

void SplitMidiBytes(std::span<const uint8_t> bytes,
                    const std::function<void(std::span<const uint8_t> message)>& send) {
  uint8_t runningStatus = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t b = bytes[i];
    if (b == 0xF0) {
      size_t end = i + 1;
      while (end < bytes.size() && bytes[end] != 0xF7) {
        ++end;
      }
      end = end < bytes.size() ? end + 1 : end;
      send(bytes.subspan(i, end - i));
      runningStatus = 0;
      i = end;
      continue;
    }
    if (b >= 0xF8) {  // real-time bytes may sit anywhere and keep the running status
      send(bytes.subspan(i, 1));
      ++i;
      continue;
    }
    uint8_t status = b;
    size_t dataStart = i + 1;
    if (b < 0x80) {
      if (runningStatus == 0) {
        ++i;
        continue;
      }
      status = runningStatus;
      dataStart = i;
    } else {
      runningStatus = b < 0xF0 ? b : 0;
    }
    const int length = SendableMessageLength(status);
    if (length == 0) {
      i = dataStart;
      continue;
    }
    const size_t dataCount = static_cast<size_t>(length - 1);
    if (dataStart + dataCount > bytes.size()) {
      return;
    }
    bool whole = true;
    for (size_t k = 0; k < dataCount; ++k) {
      whole = whole && bytes[dataStart + k] < 0x80;
    }
    if (!whole) {  // a status byte inside the data: drop what came before it
      size_t next = dataStart;
      while (next < bytes.size() && bytes[next] < 0x80) {
        ++next;
      }
      i = next;
      continue;
    }
    if (dataStart == i) {
      std::array<uint8_t, 3> message{status, 0, 0};
      for (size_t k = 0; k < dataCount; ++k) {
        message[k + 1] = bytes[dataStart + k];
      }
      send(std::span<const uint8_t>(message.data(), static_cast<size_t>(length)));
    } else {
      send(bytes.subspan(i, static_cast<size_t>(length)));
    }
    i = dataStart + dataCount;
  }
}

const std::array<uint32_t, 32>& DriverResetMessages() {
  static const std::array<uint32_t, 32> messages = [] {
    std::array<uint32_t, 32> m{};
    for (uint32_t channel = 0; channel < 16; ++channel) {
      m[channel * 2] = 0xB0 + channel + (64u << 8);
      m[channel * 2 + 1] = 0xB0 + channel + (123u << 8);
    }
    return m;
  }();
  return messages;
}

void WholeMessageDevice::ShortMsg(uint32_t packed) {
  std::array<uint8_t, 3> bytes;
  const int length = UnpackShortMessage(packed, bytes);
  if (length > 0) {
    SendMessage(std::span<const uint8_t>(bytes.data(), static_cast<size_t>(length)));
  }
}

void WholeMessageDevice::LongMsg(std::span<const uint8_t> bytes) {
  SplitMidiBytes(bytes, [this](std::span<const uint8_t> message) { SendMessage(message); });
}

void WholeMessageDevice::Reset() {
  for (uint32_t message : DriverResetMessages()) {
    ShortMsg(message);
  }
}

}  // namespace platform
