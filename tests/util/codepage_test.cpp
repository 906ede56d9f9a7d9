#include <gtest/gtest.h>

#include "util/codepage.h"

namespace igxl::util {
namespace {

TEST(CodePage, UserNamesMapToTheConverter) {
    EXPECT_EQ(code_page_name("GBK"), "CP936");
    EXPECT_EQ(code_page_name(" cp936 "), "CP936");
    EXPECT_EQ(code_page_name("Windows-1252"), "CP1252");
    EXPECT_EQ(code_page_name("big5"), "CP950");
    EXPECT_FALSE(code_page_name("cp-unknown"));
    // Every accepted name converts on this system.
    for (const std::string& name : accepted_code_pages())
        EXPECT_TRUE(decode_code_page("abc", *code_page_name(name))) << name;
}

// The numbers a VBA project records its code page as.
TEST(CodePage, WindowsNumbersMapToTheConverter) {
    EXPECT_EQ(windows_code_page(936), "CP936");
    EXPECT_EQ(windows_code_page(1252), "CP1252");
    EXPECT_EQ(windows_code_page(65001), "UTF-8");
    EXPECT_EQ(windows_code_page(10000), "MACINTOSH");
    EXPECT_FALSE(windows_code_page(1));
    EXPECT_FALSE(windows_code_page(65535));
}

TEST(CodePage, RoundTripsAndRefusesWhatDoesNotConvert) {
    const std::string gbk = "\xD6\xD0\xCE\xC4 A";  // 中文 A
    auto text = decode_code_page(gbk, "CP936");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "中文 A");
    EXPECT_EQ(encode_code_page(*text, "CP936"), gbk);
    EXPECT_FALSE(decode_code_page("\xD6", "CP936"));      // a lead byte without its trail
    EXPECT_FALSE(decode_code_page("\xFF\xFF", "CP936"));  // never a GBK character
    EXPECT_FALSE(encode_code_page("中", "CP1252"));       // no form in the code page
    // Longer than the first output guess: the buffer grows.
    std::string pairs;
    for (int i = 0; i < 5000; ++i) pairs += "\xD6\xD0";
    auto long_text = decode_code_page(pairs, "CP936");
    ASSERT_TRUE(long_text);
    EXPECT_EQ(long_text->size(), 15000u);
    EXPECT_EQ(encode_code_page(*long_text, "CP936"), pairs);
}

}  // namespace
}  // namespace igxl::util
