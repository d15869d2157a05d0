#include "shell/command/JsonReading.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <sstream>

namespace kestrova {
namespace {

Json::Value parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  EXPECT_TRUE(Json::parseFromStream(builder, in, &value, &errors)) << errors;
  return value;
}

TEST(JsonReading, IntegersByTypeTest) {
  const Json::Value o = parse(R"({"a": 5, "b": 3.0, "c": 3.5, "d": 2147483648, "e": true, "f": "7", "g": -1})");
  int32_t v = 99;
  readInt(o, "a", v);
  EXPECT_EQ(v, 5);
  readInt(o, "b", v);
  EXPECT_EQ(v, 3);  // a real without fraction counts
  v = 99;
  for (const char* key : {"c", "d", "e", "f", "missing"}) readInt(o, key, v);
  EXPECT_EQ(v, 99);
  uint32_t u = 1;
  readUInt(o, "g", u);
  EXPECT_EQ(u, 1u);
  readUInt(o, "d", u);
  EXPECT_EQ(u, 2147483648u);
  uint8_t flag = 7;
  readBool(o, "a", flag);
  EXPECT_EQ(flag, 7);
  readBool(o, "e", flag);
  EXPECT_EQ(flag, 1);
  // Reading from something that is not an object never throws.
  readInt(parse("[1]"), "a", v);
  readInt(parse("3"), "a", v);
  EXPECT_EQ(v, 99);
}

TEST(JsonReading, Arrays) {
  const Json::Value o = parse(R"({"ints": [1, -2, 3], "mixed": [1, "x"], "texts": ["a", "bc"], "bad": ["a", 1]})");
  int32_t* ints = readIntArray(o, "ints", 3);
  ASSERT_NE(ints, nullptr);
  EXPECT_EQ(ints[1], -2);
  std::free(ints);
  EXPECT_EQ(readIntArray(o, "ints", 2), nullptr);
  EXPECT_EQ(readIntArray(o, "mixed", 2), nullptr);
  EXPECT_EQ(readIntArray(o, "ints", 4000000000ull), nullptr);  // a hostile count allocates nothing

  char** texts = readTextArray(o, "texts", 2);
  ASSERT_NE(texts, nullptr);
  EXPECT_STREQ(texts[1], "bc");
  freeTextArray(2, texts);
  EXPECT_EQ(readTextArray(o, "bad", 2), nullptr);  // partial copies freed (ASan checks)
}

TEST(JsonReading, WideTextArrayHasSixtyFourSlots) {
  std::string list = "[";
  for (int i = 0; i < 64; ++i) list += std::string(i ? "," : "") + "\"n" + std::to_string(i) + "\"";
  char16_t** names = readWideTextArray(parse(R"({"n": )" + list + "]}"), "n");
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(std::u16string(names[63]), u"n63");
  freeTextArray(kWideTextSlots, names);

  names = readWideTextArray(parse(R"({"n": ["a"]})"), "n");
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names[1], nullptr);
  freeTextArray(kWideTextSlots, names);

  EXPECT_EQ(readWideTextArray(parse(R"({"n": )" + list + R"(, "x"]})"), "n"), nullptr);
  EXPECT_EQ(readWideTextArray(parse(R"({"n": ["a", 2]})"), "n"), nullptr);
}

TEST(JsonReading, DuplicatedTextsAreHeapCopies) {
  const Json::Value o = parse(R"({"t": "h\u00e9", "n": 1})");
  char* narrow = dupText(o, "t");
  ASSERT_NE(narrow, nullptr);
  EXPECT_STREQ(narrow, "h\xC3\xA9");
  std::free(narrow);
  char16_t* wide = dupWideText(o, "t");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), u"h\u00e9");
  std::free(wide);
  EXPECT_EQ(dupText(o, "n"), nullptr);
}

TEST(JsonReading, StyledReplyForm) {
  RequestContext context;
  context.msgId = 9;
  const std::string small = "{\n   \"code\" : 200,\n   \"msgId\" : 9\n}\n";
  EXPECT_EQ(writeStyled(beginReply(context)), small);
  // The writer is kept between replies: a large reply (nested, over the
  // size the writer keeps) leaves nothing behind in the next one.
  Json::Value large = beginReply(context);
  Json::Value& list = large["list"];
  for (int i = 0; i < 5000; ++i) list.append(Json::Value(Json::objectValue))["name"] = std::string(20, 'a');
  const std::string first = writeStyled(large);
  EXPECT_GT(first.size(), 64u * 1024);
  EXPECT_EQ(writeStyled(large), first);
  EXPECT_EQ(writeStyled(beginReply(context)), small);
}

}  // namespace
}  // namespace kestrova
