#include "tools/auris-transcribe/PrintableText.hpp"

#include <gtest/gtest.h>

using auris::printable;

TEST(PrintableText, EscapesWhatWouldBreakOrDriveALine)
{
    EXPECT_EQ(printable("plain/name.wav"), "plain/name.wav");
    EXPECT_EQ(printable("Príhovor – čaká ﻿\xEF\xBF\xBD.wav"), "Príhovor – čaká ﻿\xEF\xBF\xBD.wav");
    EXPECT_EQ(printable("a\nb\r\tc\\d"), "a\\nb\\r\\tc\\\\d");
    EXPECT_EQ(printable(std::string("\x1b[2J\x7f\0z", 7)), "\\x1B[2J\\x7F\\x00z");
    // A C1 control, a stray continuation byte, a cut-off sequence at the end.
    EXPECT_EQ(printable("\xC2\x9B" "1m \x80 ok \xE2\x82"), "\\xC2\\x9B1m \\x80 ok \\xE2\\x82");
}
