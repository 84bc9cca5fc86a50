// The network address and uptime built-ins called directly: addresses compared as
// host-order numbers, unparsable texts as 255.255.255.255, and the exact uptime text.
#include <stdint.h>

#include <string>

#include "builtin_call.h"

using namespace velq_test;

using std::string;

TEST(BuiltinNetwork, AddrInRangeComparesNumbers) {
  checkCases({
      gives("inside", velqAddrInRange, {str("10.0.0.5"), str("10.0.0.1"), str("10.0.0.10")},
            DTYPE_INT32, "1"),
      gives("first end", velqAddrInRange, {str("10.0.0.1"), str("10.0.0.1"), str("10.0.0.10")},
            DTYPE_INT32, "1"),
      gives("last end", velqAddrInRange, {str("10.0.0.10"), str("10.0.0.1"), str("10.0.0.10")},
            DTYPE_INT32, "1"),
      gives("above", velqAddrInRange, {str("10.0.1.0"), str("10.0.0.1"), str("10.0.0.255")},
            DTYPE_INT32, "0"),
      gives("below", velqAddrInRange, {str("10.0.0.0"), str("10.0.0.1"), str("10.0.0.255")},
            DTYPE_INT32, "0"),
      // As texts 9... would sort above 10...; as numbers it lies below.
      gives("not by text", velqAddrInRange,
            {str("9.255.255.255"), str("10.0.0.0"), str("10.255.255.255")}, DTYPE_INT32, "0"),
      gives("first byte is most significant", velqAddrInRange,
            {str("10.0.0.200"), str("10.0.0.9"), str("10.0.0.10")}, DTYPE_INT32, "0"),
      gives("high addresses unsigned", velqAddrInRange,
            {str("200.0.0.1"), str("128.0.0.0"), str("255.255.255.254")}, DTYPE_INT32, "1"),
      gives("reversed range is empty", velqAddrInRange,
            {str("10.0.0.5"), str("10.0.0.10"), str("10.0.0.1")}, DTYPE_INT32, "0"),
      gives("unparsable is all ones", velqAddrInRange,
            {str("x"), str("10.0.0.0"), str("255.255.255.255")}, DTYPE_INT32, "1"),
      gives("unparsable below the top", velqAddrInRange,
            {str("x"), str("10.0.0.0"), str("255.255.255.254")}, DTYPE_INT32, "0"),
      gives("unparsable ends", velqAddrInRange, {str("1.2.3.4"), str("1.2.3"), str("nope")},
            DTYPE_INT32, "1"),
      // A number is parsed from its text: 167772165 is 10.0.0.5 as one 32-bit part.
      gives("number argument", velqAddrInRange, {i32(167772165), str("10.0.0.1"), str("10.0.0.10")},
            DTYPE_INT32, "1"),
      // The text up to a zero byte is an address, the whole text is not.
      gives("zero byte", velqAddrInRange,
            {bytes(string("10.0.0.5\0", 9)), str("10.0.0.1"), str("10.0.0.10")}, DTYPE_INT32, "0"),
      gives("zero byte is all ones", velqAddrInRange,
            {bytes(string("10.0.0.5\0", 9)), str("10.0.0.1"), str("255.255.255.255")}, DTYPE_INT32,
            "1"),
      fails("array address", velqAddrInRange, {array(), str("10.0.0.1"), str("10.0.0.10")},
            VELQ_ERR_NOT_STRING),
      fails("null first end", velqAddrInRange, {str("10.0.0.5"), null(), str("10.0.0.10")},
            VELQ_ERR_NOT_STRING),
      fails("array last end", velqAddrInRange, {str("10.0.0.5"), str("10.0.0.1"), array()},
            VELQ_ERR_NOT_STRING),
  });
}

TEST(BuiltinNetwork, AddrInSubnetMasksTheAddressOnly) {
  checkCases({
      gives("inside", velqAddrInSubnet,
            {str("192.168.1.77"), str("192.168.1.0"), str("255.255.255.0")}, DTYPE_INT32, "1"),
      gives("subnet not masked", velqAddrInSubnet,
            {str("192.168.1.77"), str("192.168.1.1"), str("255.255.255.0")}, DTYPE_INT32, "0"),
      gives("other subnet", velqAddrInSubnet,
            {str("192.168.2.1"), str("192.168.1.0"), str("255.255.255.0")}, DTYPE_INT32, "0"),
      gives("everything", velqAddrInSubnet, {str("1.2.3.4"), str("0.0.0.0"), str("0.0.0.0")},
            DTYPE_INT32, "1"),
      gives("single host", velqAddrInSubnet,
            {str("1.2.3.4"), str("1.2.3.4"), str("255.255.255.255")}, DTYPE_INT32, "1"),
      gives("odd mask", velqAddrInSubnet, {str("10.1.2.3"), str("10.0.0.0"), str("255.128.0.0")},
            DTYPE_INT32, "1"),
      gives("odd mask outside", velqAddrInSubnet,
            {str("10.129.2.3"), str("10.0.0.0"), str("255.128.0.0")}, DTYPE_INT32, "0"),
      fails("array mask", velqAddrInSubnet, {str("1.2.3.4"), str("1.2.3.0"), array()},
            VELQ_ERR_NOT_STRING),
      fails("null address", velqAddrInSubnet, {null(), str("1.2.3.0"), str("255.0.0.0")},
            VELQ_ERR_NOT_STRING),
  });
}

TEST(BuiltinNetwork, SecondsToUptimeText) {
  checkCases({
      gives("zero", velqSecondsToUptime, {i32(0)}, DTYPE_STRING, "0 days,  0:00"),
      gives("an hour", velqSecondsToUptime, {i32(3600)}, DTYPE_STRING, "0 days,  1:00"),
      gives("ten hours", velqSecondsToUptime, {i32(36000)}, DTYPE_STRING, "0 days, 10:00"),
      gives("no singular", velqSecondsToUptime, {i32(90000)}, DTYPE_STRING, "1 days,  1:00"),
      gives("59 seconds round up", velqSecondsToUptime, {i32(59)}, DTYPE_STRING, "0 days,  0:01"),
      gives("one minute", velqSecondsToUptime, {i32(60)}, DTYPE_STRING, "0 days,  0:01"),
      gives("61 seconds", velqSecondsToUptime, {i32(61)}, DTYPE_STRING, "0 days,  0:02"),
      gives("no carry into hours", velqSecondsToUptime, {i32(3599)}, DTYPE_STRING, "0 days,  0:60"),
      gives("no carry into days", velqSecondsToUptime, {i32(86399)}, DTYPE_STRING, "0 days, 23:60"),
      gives("real truncated", velqSecondsToUptime, {real(1.9)}, DTYPE_STRING, "0 days,  0:01"),
      gives("numeric text", velqSecondsToUptime, {str("3600")}, DTYPE_STRING, "0 days,  1:00"),
      gives("twelve days", velqSecondsToUptime, {i32(86400 * 12)}, DTYPE_STRING, "12 days,  0:00"),
      gives("uint32 top", velqSecondsToUptime, {u32(4294967295u)}, DTYPE_STRING,
            "49710 days,  6:29"),
      // The days are printed from their low 32 bits; -1 wraps to the largest uint64.
      gives("uint64 top", velqSecondsToUptime, {u64(UINT64_MAX)}, DTYPE_STRING,
            "1158050441 days,  7:01"),
      gives("negative wraps", velqSecondsToUptime, {i32(-1)}, DTYPE_STRING,
            "1158050441 days,  7:01"),
      fails("text", velqSecondsToUptime, {str("x")}, VELQ_ERR_BAD_ARITHMETIC),
      fails("null", velqSecondsToUptime, {null()}, VELQ_ERR_BAD_ARITHMETIC),
      fails("array", velqSecondsToUptime, {array()}, VELQ_ERR_BAD_ARITHMETIC),
  });
}
