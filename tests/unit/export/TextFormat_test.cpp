#include "client/export/TextFormat.h"

#include <gtest/gtest.h>

namespace vantorel::exporter {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(TextFormatTest, SanitizeUtf8KeepsValidTextAndReplacesEachInvalidByte) {
  const std::string valid = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA8";
  EXPECT_EQ(SanitizeUtf8(valid), valid);
  EXPECT_EQ(SanitizeUtf8("a\xFF"
                         "b"),
            "a" + kFffd + "b");
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), kFffd + kFffd);                          // overlong '/'
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);              // surrogate
  EXPECT_EQ(SanitizeUtf8("\xF4\x90\x80\x80"), kFffd + kFffd + kFffd + kFffd);  // > U+10FFFF
  EXPECT_EQ(SanitizeUtf8("x\xE2\x82"), "x" + kFffd + kFffd);  // truncated at the end
}

TEST(TextFormatTest, XmlEscapeProducesOnlyCharactersXmlAllows) {
  EXPECT_EQ(XmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;");
  EXPECT_EQ(XmlEscape("tab\tnl\ncr\r"), "tab\tnl\ncr\r");
  EXPECT_EQ(XmlEscape(std::string("\x01\0\x1F", 3)), kFffd + kFffd + kFffd);
  EXPECT_EQ(XmlEscape("\xEF\xBF\xBE"), kFffd);  // U+FFFE
  EXPECT_EQ(XmlEscape("\xFF<"), kFffd + "&lt;");
}

}  // namespace
}  // namespace vantorel::exporter
