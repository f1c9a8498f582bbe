#include "testapp/pattern/payload_compare.h"

#include <cstring>

namespace quarnex {

PayloadComparison ComparePayload(const uint8_t* sent, const uint8_t* received, size_t length) {
  PayloadComparison result;
  result.compared = length;
  result.first_difference = length;
  // Nearly every packet is good: memcmp judges it at full speed, and only a
  // bad one is walked byte by byte to find where it went wrong.
  if (length == 0 || std::memcmp(sent, received, length) == 0) return result;
  size_t i = 0;
  while (i < length && sent[i] == received[i]) ++i;
  result.first_difference = i;
  return result;
}

}  // namespace quarnex
