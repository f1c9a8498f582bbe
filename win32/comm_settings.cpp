#include "win32/comm_settings.h"

namespace quarnex {

void MakeRawDcb(DCB* dcb) {
  dcb->DCBlength = sizeof(DCB);
  dcb->fBinary = TRUE;
  dcb->fOutxCtsFlow = FALSE;
  dcb->fOutxDsrFlow = FALSE;
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fDsrSensitivity = FALSE;
  dcb->fTXContinueOnXoff = TRUE;
  dcb->fOutX = FALSE;
  dcb->fInX = FALSE;
  dcb->fErrorChar = FALSE;
  dcb->fNull = FALSE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->fAbortOnError = FALSE;
  dcb->StopBits = ONESTOPBIT;
}

void ApplyCommSettings(const LineSettings& settings, DCB* dcb) {
  if (settings.bit_rate > 0) dcb->BaudRate = static_cast<DWORD>(settings.bit_rate);
  dcb->ByteSize = static_cast<BYTE>(settings.data_bits);
  switch (settings.parity) {
    case LineParity::kNone:
      dcb->Parity = NOPARITY;
      dcb->fParity = FALSE;
      break;
    case LineParity::kOdd:
      dcb->Parity = ODDPARITY;
      dcb->fParity = TRUE;
      break;
    case LineParity::kEven:
      dcb->Parity = EVENPARITY;
      dcb->fParity = TRUE;
      break;
  }
  dcb->fOutxCtsFlow = settings.hardware_flow ? TRUE : FALSE;
  dcb->fRtsControl = settings.hardware_flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

COMMTIMEOUTS WholeTransferTimeouts() { return COMMTIMEOUTS{0, 0, 0, 0, 0}; }

}  // namespace quarnex
