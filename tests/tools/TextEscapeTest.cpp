// The escapes of untrusted text for log lines and for CIM strings, shared by
// both libraries and the tools.
#include <gtest/gtest.h>

#include <string>

#include "TextEscape.h"

TEST(TextEscape, LogTextIsPrintableAsciiOnOneLine)
{
    EXPECT_EQ("\\x1b\\x0a\\xff\\x7f", TextEscape::ForLog(std::string("\x1b\n\xff\x7f", 4)));
    // Printable ASCII, backslash and double quote included, is unchanged.
    const std::string printable = "7427-A10-1234567 \\\"~ !";
    EXPECT_EQ(printable, TextEscape::ForLog(printable));
    // UTF-8 too is bytes outside printable ASCII.
    EXPECT_EQ("caf\\xc3\\xa9", TextEscape::ForLog("caf\xc3\xa9"));
    EXPECT_EQ("line\\x0d\\x0anext\\x09", TextEscape::ForLog("line\r\nnext\t"));
    // The text ends at its first NUL, as a C string in a log call always did.
    EXPECT_EQ("7427-A1", TextEscape::ForLog(std::string("7427-A1\0-\xff\x1b", 10)));
    EXPECT_EQ("", TextEscape::ForLog(static_cast<const char*>(nullptr)));
    EXPECT_EQ("\\x1b[2J", TextEscape::ForLog("\x1b[2J"));
}

TEST(TextEscape, CimTextKeepsUtf8AndEscapesTheRest)
{
    // Control characters, DEL and bytes that are not UTF-8.
    EXPECT_EQ("\\x1b\\x0a\\xff\\x7f", TextEscape::ForCim(std::string("\x1b\n\xff\x7f", 4)));
    const std::string printable = "7427-A10-1234567 \\\"~";
    EXPECT_EQ(printable, TextEscape::ForCim(printable));
    EXPECT_EQ("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", TextEscape::ForCim("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    EXPECT_EQ("\\xc2\\x9b31m", TextEscape::ForCim("\xc2\x9b" "31m"));   // C1 control
    EXPECT_EQ("\\xe0\\x80\\xaf", TextEscape::ForCim("\xe0\x80\xaf"));   // overlong
    EXPECT_EQ("\\xed\\xa0\\x80", TextEscape::ForCim("\xed\xa0\x80"));   // surrogate
    EXPECT_EQ("ab\\xf0\\x9f\\x98", TextEscape::ForCim("ab\xf0\x9f\x98"));  // cut short at the end
    EXPECT_EQ("\\xc3A", TextEscape::ForCim("\xc3" "A"));                 // lead byte without continuation
    EXPECT_EQ("\\xf4\\x90\\x80\\x80", TextEscape::ForCim("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_EQ("12345", TextEscape::ForCim(std::string("12345\0\xff", 7)));
    // Different texts stay different (what a key needs) unless a printable
    // text spells out an escape.
    EXPECT_NE(TextEscape::ForCim("\xff\xff"), TextEscape::ForCim("\xff\xfe"));
    // Whatever the input, the result is valid UTF-8 without control characters.
    std::string every;
    for (int c = 1; c < 256; ++c) {
        every += static_cast<char>(c);
    }
    std::string shown = TextEscape::ForCim(every);
    for (size_t i = 0; i < shown.size();) {
        const unsigned char c = static_cast<unsigned char>(shown[i]);
        ASSERT_TRUE(c >= 0x20 && c != 0x7F) << i;
        size_t length = TextEscape::Utf8Length(shown, i);
        ASSERT_GT(length, 0u) << i;
        ASSERT_FALSE(TextEscape::IsC1Control(shown, i)) << i;
        i += length;
    }
}
