#include <gtest/gtest.h>

#include "main/path_join.h"
#include "main/wide_text.h"

namespace host {
namespace {

TEST(WideText, RoundTripsEveryPlane) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string wide = to_wide(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600z");
  EXPECT_EQ(wide.c_str()[wide.size()], u'\0');
  EXPECT_EQ(from_wide(wide), text);
  EXPECT_EQ(from_wide_strict(wide), text);
}

TEST(WideText, NulInsideTextIsKept) {
  EXPECT_EQ(to_wide(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(WideText, UnpairedSurrogates) {
  const std::u16string cases[] = {
      std::u16string{u'a', char16_t(0xD800)},
      std::u16string{char16_t(0xDC00), u'a'},
      std::u16string{char16_t(0xD83D), u'x', char16_t(0xDE00)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(from_wide_strict(c), std::nullopt);
    const std::string lossy = from_wide(c);
    EXPECT_NE(lossy.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(replace_unpaired_surrogates(c).find(char16_t(0xFFFD)) != std::u16string::npos, true);
  }
  EXPECT_EQ(from_wide(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
}

TEST(WideText, InvalidUtf8BecomesReplacement) {
  for (std::string_view bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
    const std::u16string wide = to_wide(bad);
    ASSERT_FALSE(wide.empty());
    for (char16_t u : wide) EXPECT_EQ(u, char16_t(0xFFFD));
  }
}

TEST(JoinPath, SeparatorOnlyWhereNeeded) {
  struct Case {
    std::string_view first, second, joined;
  };
  const Case cases[] = {
      {R"(C:\Users\a\AppData\Roaming)", "com.velmorantix.lab", R"(C:\Users\a\AppData\Roaming\com.velmorantix.lab)"},
      {R"(C:\Roaming\)", "x", R"(C:\Roaming\x)"},
      {"C:/Roaming/", "x", "C:/Roaming/x"},
      {"", "com.velmorantix.lab", "com.velmorantix.lab"},
      {"C:", "x", "C:x"},
      {"CC:", "x", R"(CC:\x)"},
      {R"(\\server\share)", "x", R"(\\server\share\x)"},
  };
  for (const auto& c : cases) EXPECT_EQ(join_path(c.first, c.second), c.joined) << c.first;
}

}  // namespace
}  // namespace host
