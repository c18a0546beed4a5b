// The JSON lines of reports and --detect --json.
#include "json.h"

#include <gtest/gtest.h>

#include <string>

namespace bmpface::cli {
namespace {

TEST(JsonLine, EscapesAndFieldOrder) {
  const struct {
    const char* name;
    std::string text;
    std::string want;
  } strings[] = {
      {"plain", "photos/a.bmp", R"("photos/a.bmp")"},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"controls", std::string("t\tn\n\x01\x1f", 6), R"("t\u0009n\u000a\u0001\u001f")"},
      {"UTF-8", "visage-\xc3\xa9.bmp", "\"visage-\xc3\xa9.bmp\""},
      {"empty", "", R"("")"},
  };
  for (const auto& s : strings) EXPECT_EQ(JsonString(s.text), s.want) << s.name;

  JsonLine line;
  line.String("path", "a.bmp").String("status", "done").Rect({72, 0, 332, 369}).Null("output");
  EXPECT_EQ(line.Finish(),
            R"({"path":"a.bmp","status":"done","x":72,"y":0,"width":332,"height":369,)"
            R"("output":null})"
            "\n");
  EXPECT_EQ(JsonLine().Int("n", -5).Finish(), "{\"n\":-5}\n");
}

}  // namespace
}  // namespace bmpface::cli
