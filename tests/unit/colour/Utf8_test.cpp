// The one UTF-8 codec: what counts as well-formed, what a strict decode
// refuses and what the lenient paths put in place of each bad byte.
#include "colour/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace colour {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8, WellFormedTextDecodesAndSurvivesTheRoundTrip) {
  const std::string text = std::string("a\0", 2) + "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA8";
  std::u32string decoded;
  ASSERT_TRUE(DecodeUtf8(text, decoded));
  EXPECT_EQ(decoded, std::u32string(U"a\0", 2) + U"caf\u00E9 \u20AC \U0001F3A8");
  EXPECT_EQ(EncodeUtf8(decoded), text);
  EXPECT_EQ(SanitizeUtf8(text), text);
}

// Each ill-formed text: the strict decoder refuses it (leaving its output
// alone), the lenient one gives one U+FFFD per byte that begins no
// well-formed sequence and resumes at the next byte.
TEST(Utf8, IllFormedBytesAreRefusedOrEachReplaced) {
  const struct {
    const char* what;
    std::string bytes;
    std::string sanitized;
  } cases[] = {
      {"bad lead",
       "a\xFF"
       "b",
       "a" + kFffd + "b"},
      {"stray continuation", "\x80y", kFffd + "y"},
      {"overlong '/'", "\xC0\xAF", kFffd + kFffd},
      {"surrogate", "\xED\xA0\x80", kFffd + kFffd + kFffd},
      {"above U+10FFFF", "\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},
      {"truncated at the end", "x\xE2\x82", "x" + kFffd + kFffd},
      {"truncated before ASCII", "\xE2\x82x", kFffd + kFffd + "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::u32string out = U"kept";
    EXPECT_FALSE(DecodeUtf8(c.bytes, out));
    EXPECT_EQ(out, U"kept");
    EXPECT_EQ(SanitizeUtf8(c.bytes), c.sanitized);
  }
}

TEST(Utf8, UnitsThatAreNoScalarValueEncodeAsReplacement) {
  const char32_t text[] = {U'a', 0x7FF, 0xFFFF, 0x10FFFF, 0xDFFF, 0x110000, 0xFFFFFFFF};
  EXPECT_EQ(EncodeUtf8(std::u32string_view(text, 7)),
            "a\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF" + kFffd + kFffd + kFffd);
  EXPECT_EQ(EncodeUtf8({}), "");
}

}  // namespace
}  // namespace colour
