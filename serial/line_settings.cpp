#include "serial/line_settings.h"

namespace quarnex {

namespace {

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
