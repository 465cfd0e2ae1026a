#include <gtest/gtest.h>
#include <windows.h>

// Every Shift_JIS test means nothing under another code page, so a machine
// set up with the wrong locale must fail here, loudly, before anything else.
TEST(Locale, AnsiCodePageIsShiftJis) {
    ASSERT_EQ(GetACP(), 932u) << "run the tests under LC_ALL=ja_JP.UTF-8";
    EXPECT_TRUE(IsDBCSLeadByte(0x95));
}
