#include "client/export/TextFormat.h"

#include <gtest/gtest.h>

namespace vantorel::exporter {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(TextFormatTest, XmlEscapeProducesOnlyCharactersXmlAllows) {
  EXPECT_EQ(XmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&apos;&lt;/a&gt;");
  EXPECT_EQ(XmlEscape("tab\tnl\ncr\r"), "tab\tnl\ncr\r");
  EXPECT_EQ(XmlEscape(std::string("\x01\0\x1F", 3)), kFffd + kFffd + kFffd);
  EXPECT_EQ(XmlEscape("\xEF\xBF\xBE"), kFffd);  // U+FFFE
  EXPECT_EQ(XmlEscape("\xFF<"), kFffd + "&lt;");
}

}  // namespace
}  // namespace vantorel::exporter
