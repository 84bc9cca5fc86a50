// Built-in network address and uptime functions: AddrInRange, AddrInSubnet and
// SecondsToUptime.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "builtins.h"
#include "velq_program.h"
#include "velq_value.h"

enum { UPTIME_TEXT_SIZE = 260 };  // room for any SecondsToUptime text

namespace {

// The IPv4 address in a value's text, in host byte order, so that the first part of
// the dotted text is the most significant byte. A text that does not parse gives all
// ones (255.255.255.255), as the parser reports failure; so does a text holding a zero
// byte, which the parser would otherwise read only up to that byte.
uint32_t addressOf(VELQ_Value *value) {
  uint32_t length = 0;
  const char *text = value->getValueAsString(&length);
  if (!text) text = "";
  if (memchr(text, '\0', length)) return 0xFFFFFFFFu;
  return ntohl(inet_addr(text));
}

// The three arguments of the address tests must have a text form; they are checked in
// order before any is parsed.
int32_t parseAddresses(VELQ_Value **argv, uint32_t addresses[3]) {
  for (int i = 0; i < 3; i++)
    if (!argv[i]->isString()) return VELQ_ERR_NOT_STRING;
  for (int i = 0; i < 3; i++) addresses[i] = addressOf(argv[i]);
  return 0;
}

}  // namespace

VELQ_HANDLER(velqAddrInRange) {
  uint32_t a[3];
  int32_t code = parseAddresses(argv, a);
  if (code != 0) return code;
  return velqResult(result, new VELQ_Value((int32_t)(a[1] <= a[0] && a[0] <= a[2])));
}

VELQ_HANDLER(velqAddrInSubnet) {
  uint32_t a[3];
  int32_t code = parseAddresses(argv, a);
  if (code != 0) return code;
  // The subnet is compared as given, not masked.
  return velqResult(result, new VELQ_Value((int32_t)((a[0] & a[2]) == a[1])));
}

// "D days, HH:MM" with the hours right-aligned in two places; the minutes are rounded
// up when seconds are left over, without carrying into the hours (3599 gives 0:60).
VELQ_HANDLER(velqSecondsToUptime) {
  if (!argv[0]->isNumeric()) return VELQ_ERR_BAD_ARITHMETIC;
  uint64_t seconds = argv[0]->getValueAsUInt64();
  uint64_t days = seconds / 86400;
  uint32_t rest = (uint32_t)(seconds % 86400);
  uint32_t hours = rest / 3600;
  rest %= 3600;
  uint32_t minutes = rest / 60 + (rest % 60 != 0 ? 1 : 0);
  char text[UPTIME_TEXT_SIZE];
  int length =
      snprintf(text, sizeof text, "%u days, %2u:%02u", (unsigned)(uint32_t)days, hours, minutes);
  if (length < 0) length = 0;
  return velqResult(result, new VELQ_Value(text, (uint32_t)length));
}
