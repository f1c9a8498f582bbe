#include "serial/line_settings.h"

#include <cstring>

#include "testapp/platform/byte_order.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

namespace {

int32_t ReadLe32(const uint8_t* bytes, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[offset + static_cast<size_t>(i)];
  return static_cast<int32_t>(v);
}

tcflag_t CharacterSizeFlag(int data_bits) {
  switch (data_bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

}  // namespace

bool LineSettingsFromBlock(const void* block, size_t size, LineSettings* settings) {
  if (block == nullptr || size < kConfigBlockSize) return false;
  const auto* bytes = static_cast<const uint8_t*>(block);
  LineSettings s;
  s.bit_rate = ReadLe32(bytes, block::kBitRate);
  s.data_bits = DataBitsOfCharacterSize(ReadLe32(bytes, block::kTxCharacterSize));
  const int32_t parity = ReadLe32(bytes, block::kParity);
  s.parity = parity == 0 ? LineParity::kNone : parity == 1 ? LineParity::kOdd : LineParity::kEven;
  s.hardware_flow = bytes[block::kAutoDcdCts] != 0;
  *settings = s;
  return true;
}

int LineBitsPerCharacter(const LineSettings& settings) {
  return 1 + settings.data_bits + (settings.parity == LineParity::kNone ? 0 : 1) + 1;
}

uint32_t TtyStopBitHalves(const termios& t) { return (t.c_cflag & CSTOPB) != 0 ? 4 : 2; }

void MakeRawLine(termios* t) {
  cfmakeraw(t);
  t->c_cflag |= CLOCAL | CREAD;
  t->c_cflag &= ~(CRTSCTS | CSTOPB);
  t->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
}

void ApplyLineSettings(const LineSettings& settings, termios* t) {
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CRTSCTS);
  t->c_cflag |= CharacterSizeFlag(settings.data_bits);
  t->c_iflag &= ~INPCK;
  if (settings.parity != LineParity::kNone) {
    t->c_cflag |= PARENB;
    if (settings.parity == LineParity::kOdd) t->c_cflag |= PARODD;
    t->c_iflag |= INPCK;
  }
  if (settings.hardware_flow) t->c_cflag |= CRTSCTS;
}

bool LineFramingMatches(const LineSettings& settings, const termios& t) {
  termios wanted = t;
  ApplyLineSettings(settings, &wanted);
  const tcflag_t framing = CSIZE | PARENB | PARODD;
  return (wanted.c_cflag & framing) == (t.c_cflag & framing);
}

}  // namespace quarnex
