// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "scan/time_entry.h"

namespace kalivor {
namespace {

TimeFields fields(const char* h, const char* m, const char* s, const char* ms) {
  return TimeFields{h, m, s, ms};
}

TEST(ProtectTime, NewObjectHoldsHalfASecond) {
  ProtectTime p;
  EXPECT_EQ(p.hour(), "0");
  EXPECT_EQ(p.minute(), "0");
  EXPECT_EQ(p.second(), "0");
  EXPECT_EQ(p.millisecond(), "500");
  EXPECT_EQ(p.ErrMsg(), "");
  p.minute("12");  // written unchanged
  EXPECT_EQ(p.minute(), "12");
}

TEST(ProtectTime, FormatsAndClampsOnlyTheChangedField) {
  ProtectTime p;
  p.setTime("min", "0", "7", "5", "0");
  p.Protect();
  EXPECT_EQ(p.minute(), "07");
  EXPECT_EQ(p.second(), "5");  // untouched
  EXPECT_EQ(p.ErrMsg(), "");

  p.setTime("hour", "2", "0", "0", "0");
  p.Protect();
  EXPECT_EQ(p.hour(), "1");  // the maximum as plain text
  EXPECT_EQ(p.ErrMsg(), "");

  p.setTime("sec", "0", "0", "75", "0");
  p.Protect();
  EXPECT_EQ(p.second(), "59");

  p.setTime("msec", "0", "0", "0", "1500");
  p.Protect();
  EXPECT_EQ(p.millisecond(), "999");

  p.setTime("msec", "0", "0", "0", "5");
  p.Protect();
  EXPECT_EQ(p.millisecond(), "005");

  p.setTime("other", "0", "5", "7", "0");
  p.Protect();
  EXPECT_EQ(p.minute(), "5");  // no field named: nothing formatted
  EXPECT_EQ(p.second(), "7");
}

TEST(ProtectTime, TotalAboveOneHourResetsToOneHour) {
  ProtectTime p;
  p.setTime("hour", "1", "00", "00", "000");
  p.Protect();
  EXPECT_EQ(p.hour(), "01");
  EXPECT_EQ(p.ErrMsg(), "");

  p.setTime("min", "01", "1", "00", "000");
  p.Protect();
  EXPECT_EQ(p.hour(), "01");
  EXPECT_EQ(p.minute(), "00");
  EXPECT_EQ(p.second(), "00");
  EXPECT_EQ(p.millisecond(), "000");
  EXPECT_EQ(p.ErrMsg(), kTimeRangeMessage);

  // A later accepted time clears the message.
  p.setTime("sec", "0", "0", "3", "0");
  p.Protect();
  EXPECT_EQ(p.ErrMsg(), "");
}

TEST(ProtectTime, PastedSignsAndHugeNumbersStayInRange) {
  ProtectTime p;
  p.setTime("sec", "0", "0", "-5", "0");
  p.Protect();
  EXPECT_EQ(p.second(), "00");
  p.setTime("min", "0", "99999999999999999999999", "0", "0");
  p.Protect();
  EXPECT_EQ(p.minute(), "59");
}

TEST(ValidateTimeFields, NumericFieldsGoThroughProtect) {
  const TimeCheck c = validateTimeFields("min", fields("0", "7", "0", "0"));
  EXPECT_EQ(c.fields, fields("0", "07", "0", "0"));
  EXPECT_EQ(c.message, "");
  EXPECT_DOUBLE_EQ(totalSeconds(c.fields), 420);
  EXPECT_EQ(totalSecondsText(c.fields), "420");

  const TimeCheck over = validateTimeFields("hour", "1", "01", "00", "000");
  EXPECT_EQ(over.fields, fields("01", "00", "00", "000"));
  EXPECT_EQ(over.message, kTimeRangeMessage);
}

TEST(ValidateTimeFields, NonNumericFieldResetsTheGroup) {
  for (const auto& f : {fields("", "0", "0", "0"), fields("0", "x", "0", "0"),
                        fields("0", "0", "0", " ")}) {
    const TimeCheck c = validateTimeFields("sec", f);
    EXPECT_EQ(c.fields, fields("00", "00", "00", "500"));
    EXPECT_EQ(c.message, kTimeNumberMessage);
    EXPECT_EQ(totalSecondsText(c.fields), "0.5");
  }
}

TEST(TotalSeconds, AddsAllFourFields) {
  EXPECT_EQ(totalSecondsText(fields("0", "59", "59", "999")), "3599.999");
  EXPECT_EQ(totalSecondsText(fields("01", "00", "00", "000")), "3600");
  EXPECT_EQ(totalSecondsText(fields("00", "01", "15", "500")), "75.5");
}

TEST(SplitSeconds, WholePartsAndRoundedMilliseconds) {
  EXPECT_EQ(splitSeconds("0.5"), fields("0", "0", "0", "500"));
  EXPECT_EQ(splitSeconds("75.5"), fields("0", "1", "15", "500"));
  EXPECT_EQ(splitSeconds("10"), fields("0", "0", "10", "0"));
  EXPECT_EQ(splitSeconds("3600"), fields("1", "0", "0", "0"));
  EXPECT_EQ(splitSeconds("3599.999"), fields("0", "59", "59", "999"));
  // Halves go to the even millisecond.
  EXPECT_EQ(splitSeconds("1.0625"), fields("0", "0", "1", "62"));
  EXPECT_EQ(splitSeconds("1.1875").millisecond, "188");
  // A fraction rounding to 1000 ms is carried into the seconds.
  EXPECT_EQ(splitSeconds("59.9996"), fields("0", "1", "0", "0"));
  EXPECT_EQ(splitSeconds(""), fields("0", "0", "0", "0"));
  EXPECT_EQ(splitSeconds("1e999"), fields("0", "0", "0", "0"));
  // Splitting and adding up again gives the same seconds.
  for (const char* t : {"0.5", "75.5", "3599.999", "1234.25", "0"}) {
    EXPECT_EQ(totalSecondsText(splitSeconds(t)), t) << t;
  }
}

}  // namespace
}  // namespace kalivor
