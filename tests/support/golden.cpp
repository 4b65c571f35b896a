#include "tests/support/golden.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace golden {

std::string Hex(std::string_view text) {
  std::string out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c == ' ' || c == '\n') {
      continue;
    } else {
      throw std::invalid_argument("bad hex text");
    }
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) {
    throw std::invalid_argument("odd number of hex digits");
  }
  return out;
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", static_cast<uint8_t>(c));
    if (!out.empty()) {
      out += ' ';
    }
    out += buf;
  }
  return out;
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  size_t Pos() const { return pos_; }
  bool Byte(uint8_t& b) {
    if (AtEnd()) {
      return false;
    }
    b = static_cast<uint8_t>(bytes_[pos_++]);
    return true;
  }
  bool VarLen(uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!Byte(b)) {
        return false;
      }
      v = (v << 7) | (b & 0x7F);
      if (!(b & 0x80)) {
        return true;
      }
    }
    return false;
  }
  bool Skip(size_t n) {
    if (bytes_.size() - pos_ < n) {
      return false;
    }
    pos_ += n;
    return true;
  }
  std::string_view From(size_t start) const { return bytes_.substr(start, pos_ - start); }
  std::string_view Rest() const { return bytes_.substr(pos_); }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

const char* ChannelName(uint8_t status, uint8_t velocity) {
  switch (status >> 4) {
    case 0x8:
      return "note-off";
    case 0x9:
      return velocity == 0 ? "note-on vel 0" : "note-on";
    case 0xA:
      return "key pressure";
    case 0xB:
      return "controller";
    case 0xC:
      return "program";
    case 0xD:
      return "channel pressure";
    default:
      return "pitch bend";
  }
}

// Reads one event after its delta; returns its annotation or "" when the bytes run out.
std::string ReadEvent(Reader& r, Stream kind, int& runningStatus) {
  size_t start = r.Pos();
  uint8_t first;
  if (!r.Byte(first)) {
    return "";
  }
  std::string note;
  if (first == 0xFF) {
    uint8_t type;
    if (!r.Byte(type)) {
      return "";
    }
    if (kind == Stream::kNmm) {
      size_t size = type == 0x01 ? 3 : 0;
      note = type == 0x00 ? "end" : type == 0x01 ? "tempo" : type == 0x03 ? "loop point" : "unknown";
      if (!r.Skip(size)) {
        return "";
      }
    } else {
      uint32_t length;
      if (!r.VarLen(length) || !r.Skip(length)) {
        return "";
      }
      char buf[32];
      std::snprintf(buf, sizeof buf, "meta %02X", type);
      note = buf;
    }
    runningStatus = -1;
  } else if (first == 0xF0) {
    uint32_t length;
    if (!r.VarLen(length) || !r.Skip(length)) {
      return "";
    }
    note = "sysex";
    runningStatus = -1;
  } else {
    std::string prefix;
    uint8_t status = first;
    size_t dataBytes;
    if (first < 0x80) {
      if (runningStatus < 0) {
        return "";
      }
      status = static_cast<uint8_t>(runningStatus);
      char buf[16];
      std::snprintf(buf, sizeof buf, "(%02X) ", status);
      prefix = buf;
      dataBytes = (status >> 4) == 0xC || (status >> 4) == 0xD ? 1 : 2;
      if (!r.Skip(dataBytes - 1)) {
        return "";
      }
    } else {
      dataBytes = (status >> 4) == 0xC || (status >> 4) == 0xD ? 1 : 2;
      if (!r.Skip(dataBytes)) {
        return "";
      }
    }
    std::string_view bytes = r.From(start);
    uint8_t velocity = bytes.size() >= 2 ? static_cast<uint8_t>(bytes.back()) : 0;
    runningStatus = status;
    return prefix + ToHex(bytes) + " ; " + ChannelName(status, velocity);
  }
  return ToHex(r.From(start)) + " ; " + note;
}

}  // namespace

std::string Annotate(std::string_view events, Stream kind) {
  Reader r(events);
  std::string out;
  int runningStatus = -1;
  while (!r.AtEnd()) {
    size_t start = r.Pos();
    uint32_t delta;
    std::string event;
    if (r.VarLen(delta)) {
      event = ReadEvent(r, kind, runningStatus);
    }
    if (event.empty()) {
      out += "rest: " + ToHex(events.substr(start)) + "\n";
      break;
    }
    out += "delta " + std::to_string(delta) + ": " + event + "\n";
  }
  return out;
}

std::string AnnotateFile(std::string_view file) {
  if (file.substr(0, 4) == "MThd" && file.size() >= 22) {
    return "header " + ToHex(file.substr(0, 22)) + "\n" + Annotate(file.substr(22), Stream::kSmf);
  }
  if (file.substr(0, 4) == "NMM\x1A" && file.size() >= 10) {
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
      length = (length << 8) | static_cast<uint8_t>(file[4 + i]);
    }
    std::string_view events = file.substr(10, length);
    return "header " + ToHex(file.substr(0, 10)) + "\n" + Annotate(events, Stream::kNmm) + "trailer " +
           ToHex(file.substr(10 + events.size())) + "\n";
  }
  return "raw " + ToHex(file) + "\n";
}

}  // namespace golden
