// UTF-8 to UTF-16 and back: the text of every name the wide-character calls
// of Windows take, tested on every platform.
#include <gtest/gtest.h>

#include <string>

#include "base/Cp1251.h"

namespace tovik {
namespace {

TEST(WideText, RoundTripAndRefusals) {
    struct Case {
        std::string Utf8;
        std::u16string Utf16;
    };
    const Case both[] = {
        {"", u""},
        {"COM3", u"COM3"},
        {"журнал аварий.txt", u"журнал аварий.txt"},
        {"\xE2\x82\xAC 100", u"\u20AC 100"},                   // three bytes
        {"\xF0\x9F\x93\x88", std::u16string{0xD83D, 0xDCC8}},  // a surrogate pair
    };
    for (const Case& c : both) {
        EXPECT_EQ(Utf8ToUtf16(c.Utf8), c.Utf16) << c.Utf8;
        EXPECT_EQ(Utf16ToUtf8(c.Utf16), c.Utf8) << c.Utf8;
    }
    // Nothing is converted lossily: malformed text is refused whole.
    for (const char* bad : {"\xFF", "\xD0", "\xC0\xAF", "\xED\xA0\x80", "ab\x80"})
        EXPECT_FALSE(Utf8ToUtf16(bad)) << bad;
    for (const std::u16string& bad :
         {std::u16string{0xD83D}, std::u16string{0xDCC8, u'a'}, std::u16string{u'a', 0xD83D, u'b'}})
        EXPECT_FALSE(Utf16ToUtf8(bad));
}

}  // namespace
}  // namespace tovik
