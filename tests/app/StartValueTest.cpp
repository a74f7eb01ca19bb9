#include "app/StartValue.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* text;
  std::uint16_t low16;
  bool negative;
};

TEST(StartValue, KeepsTheLowSixteenBitsOfTheExactValue) {
  const Case cases[] = {
      {"10", 10, false},
      {"32768", 0x8000, false},
      {"65535", 0xFFFF, false},
      {"65536", 0, false},
      {"65546", 10, false},
      {"4294967306", 10, false},            // 2^32 + 10: no 32-bit wrap-around on the way
      {"18446744073709551626", 10, false},  // 2^64 + 10
      {"-1", 0xFFFF, true},
      {"-32768", 0x8000, true},
      {"-65536", 0, true},  // non-zero, so negative, although its low bits are 0
      {"-0", 0, false},
      {"-000", 0, false},
      {"+7", 7, false},
      {"000123", 123, false},
  };
  for (const Case& c : cases) {
    const StartValue value = parseStartValue(c.text).value();
    EXPECT_EQ(value.low16, c.low16) << c.text;
    EXPECT_EQ(value.negative, c.negative) << c.text;
  }
}

TEST(StartValue, AllowsWhiteSpaceAroundTheNumberAndNothingElse) {
  const Case accepted[] = {{"  \t\n42", 42, false}, {"42 \r\n", 42, false}, {" -9 ", 0xFFF7, true}};
  for (const Case& c : accepted) {
    const std::optional<StartValue> value = parseStartValue(c.text);
    ASSERT_TRUE(value.has_value()) << '"' << c.text << '"';
    EXPECT_EQ(value->low16, c.low16) << '"' << c.text << '"';
    EXPECT_EQ(value->negative, c.negative) << '"' << c.text << '"';
  }
  for (const char* text : {"", " ", "-", "+-3", "- 3", "4 2", "12abc", "1e5", "0x10", "abc"}) {
    EXPECT_FALSE(parseStartValue(text).has_value()) << '"' << text << '"';
  }
}

TEST(StartValue, HandlesThousandsOfDigits) {
  // 10^5000 + 32768: 10^5000 is divisible by 2^16, so the low bits are 32768.
  std::string text = "1" + std::string(5000 - 5, '0') + "32768";
  EXPECT_EQ(parseStartValue(text.c_str()).value().low16, 0x8000);
  text = "-" + text;
  const StartValue negative = parseStartValue(text.c_str()).value();
  EXPECT_EQ(negative.low16, 0x8000);
  EXPECT_TRUE(negative.negative);
}

}  // namespace
