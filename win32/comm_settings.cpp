#include "win32/comm_settings.h"

#include "testapp/platform/byte_order.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

bool CommSettingsFromBlock(const void* block, size_t size, CommLineSettings* settings) {
  if (block == nullptr || size < kConfigBlockSize) return false;
  const auto* bytes = static_cast<const uint8_t*>(block);
  CommLineSettings s;
  s.bit_rate = static_cast<int32_t>(DecodeFixed32(bytes + block::kBitRate));
  s.data_bits =
      DataBitsOfCharacterSize(static_cast<int32_t>(DecodeFixed32(bytes + block::kTxCharacterSize)));
  const int32_t parity = static_cast<int32_t>(DecodeFixed32(bytes + block::kParity));
  s.parity = parity == 0 ? CommParity::kNone : parity == 1 ? CommParity::kOdd : CommParity::kEven;
  s.hardware_flow = bytes[block::kAutoDcdCts] != 0;
  *settings = s;
  return true;
}

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

void ApplyCommSettings(const CommLineSettings& settings, DCB* dcb) {
  if (settings.bit_rate > 0) dcb->BaudRate = static_cast<DWORD>(settings.bit_rate);
  dcb->ByteSize = static_cast<BYTE>(settings.data_bits);
  switch (settings.parity) {
    case CommParity::kNone:
      dcb->Parity = NOPARITY;
      dcb->fParity = FALSE;
      break;
    case CommParity::kOdd:
      dcb->Parity = ODDPARITY;
      dcb->fParity = TRUE;
      break;
    case CommParity::kEven:
      dcb->Parity = EVENPARITY;
      dcb->fParity = TRUE;
      break;
  }
  dcb->fOutxCtsFlow = settings.hardware_flow ? TRUE : FALSE;
  dcb->fRtsControl = settings.hardware_flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

COMMTIMEOUTS WholeTransferTimeouts() { return COMMTIMEOUTS{0, 0, 0, 0, 0}; }

}  // namespace quarnex
