#include "shell/command/SettingsCommand.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shell/command/testing/ScriptedPlugin.h"

namespace kestrova {
namespace {

std::vector<int32_t> ints(const int32_t* values, size_t count) {
  return values == nullptr ? std::vector<int32_t>{} : std::vector<int32_t>(values, values + count);
}

template <typename T>
T* heapArray(std::initializer_list<T> values) {
  auto* block = static_cast<T*>(std::malloc(values.size() * sizeof(T)));
  std::copy(values.begin(), values.end(), block);
  return block;
}

char16_t* heapLine(std::u16string_view text) {
  auto* line = static_cast<char16_t*>(std::calloc(text.size() + 1, sizeof(char16_t)));
  std::copy(text.begin(), text.end(), line);
  return line;
}

template <typename Union>
bool allZero(const Union& area) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&area);
  return std::all_of(bytes, bytes + sizeof area, [](unsigned char b) { return b == 0; });
}

// Wraps a body in the styled reply of a successful read back with msgId 7.
std::string styledReply(const std::string& name, const std::string& members) {
  return "{\n   \"code\" : 200,\n   \"msgId\" : 7,\n   \"settings\" : {\n      \"" + name + "\" : {\n" + members +
         "      }\n   }\n}\n";
}

class SettingsCommandTest : public ::testing::Test {
 protected:
  int run(const std::string& json) {
    Json::Value request;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(json.data(), json.data() + json.size(), &request, &errors)) << json;
    reply_.clear();
    return handleSettings(env_, context_, request, reply_);
  }
  // Runs a request that must be refused before anything reaches the library.
  void expectRefused(const std::string& json, int code) {
    const size_t before = plugin_.calls.size();
    EXPECT_EQ(run(json), code) << json;
    EXPECT_EQ(plugin_.calls.size(), before) << json;
    EXPECT_TRUE(reply_.empty()) << json;
  }
  const DeviceSettingsParam& sent() const { return plugin_.settings.back(); }

  testing::ScriptedPlugin plugin_;
  CommandEnv env_{&testing::ScriptedPlugin::api(), {}};
  RequestContext context_{7, 0, 0, {}};
  std::string reply_;
};

TEST_F(SettingsCommandTest, MalformedRequestsAreRefused) {
  expectRefused(R"({"msgId": 7})", 1000);
  expectRefused(R"({"settings": [1]})", 1000);
  expectRefused(R"({"settings": {"uniqueId": 1}})", 1000);
  expectRefused(R"({"settings": {"operate": 4}})", 1000);
  expectRefused(R"({"settings": {"operate": "1"}})", 1000);
  // Record type 11 is not a page type: it has no reply name and no own block.
  expectRefused(R"({"settings": {"operate": 2, "type": 11}})", 1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 11, "polygon": {"type": 2}}})", 1000);
}

TEST_F(SettingsCommandTest, ClearSendsOnlyDeviceAndOperate) {
  plugin_.results = {1009};
  EXPECT_EQ(run(R"({"settings": {"operate": 3, "uniqueId": 42, "type": 1, "blockId": 3,
                                 "OSD": {"type": 1, "count": 1, "text": ["a"], "text_x": [1], "text_y": [2]}}})"),
            1009);
  ASSERT_EQ(plugin_.settings.size(), 1u);
  EXPECT_EQ(sent().uniqueId, 42u);
  EXPECT_EQ(sent().operate, 3);
  EXPECT_EQ(sent().type, 0);
  EXPECT_EQ(sent().blockId, 0);
  EXPECT_EQ(sent().subType, 0);
  EXPECT_TRUE(allZero(sent().block));
  EXPECT_TRUE(reply_.empty());
}

TEST_F(SettingsCommandTest, OsdApplyCarriesEveryField) {
  std::vector<std::string> lines;
  std::vector<int32_t> xs, ys;
  plugin_.onSettings = [&](DeviceSettingsParam& p) {
    for (uint32_t i = 0; i < p.block.osd.count; ++i) lines.emplace_back(p.block.osd.text[i]);
    xs = ints(p.block.osd.textX, p.block.osd.count);
    ys = ints(p.block.osd.textY, p.block.osd.count);
  };
  std::string longName;
  for (int i = 0; i < 40; ++i) longName += "\xC3\xA9";  // 80 bytes of two-byte characters
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "uniqueId": 5, "type": 1, "OSD": {
      "type": 1, "index": 4, "datetime_format": 2, "fontName": ")" + longName + R"(",
      "bold": true, "italic": false, "strikeOut": 1, "underline": true, "count": 2,
      "text": ["Gate", "Hall \u00e9"], "text_x": [10, 20], "text_y": [30, 40],
      "datetime_x": 7, "datetime_y": 8, "fontWidth": 99}}})"),
            0);
  const DeviceSettingsParam& p = sent();
  EXPECT_EQ(p.type, 1);
  EXPECT_EQ(p.uniqueId, 5u);
  EXPECT_EQ(p.operate, 1);
  EXPECT_EQ(p.blockId, 4);  // taken from "index" when the request has no "blockId"
  EXPECT_EQ(p.subType, 1);
  EXPECT_EQ(p.block.osd.datetimeFormat, 2);
  EXPECT_EQ(std::string(p.block.osd.fontName), longName.substr(0, 62));  // cut between characters
  EXPECT_EQ(p.block.osd.bold, 1);
  EXPECT_EQ(p.block.osd.italic, 0);
  EXPECT_EQ(p.block.osd.strikeOut, 0);  // not a boolean
  EXPECT_EQ(p.block.osd.underline, 1);
  EXPECT_EQ(p.block.osd.count, 2u);
  EXPECT_EQ(lines, (std::vector<std::string>{"Gate", "Hall \xC3\xA9"}));
  EXPECT_EQ(xs, (std::vector<int32_t>{10, 20}));
  EXPECT_EQ(ys, (std::vector<int32_t>{30, 40}));
  EXPECT_EQ(p.block.osd.datetimeX, 7);
  EXPECT_EQ(p.block.osd.datetimeY, 8);
  EXPECT_TRUE(reply_.empty());

  // A "blockId" in the request wins over the block's "index".
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 1, "blockId": 2, "OSD": {"type": 5, "index": 4}}})"), 0);
  EXPECT_EQ(sent().blockId, 2);
  EXPECT_EQ(sent().subType, 5);

  // Sub-type 9 sets the date format and nothing else.
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 9, "datetime_format": 3, "fontName": "x"}}})"), 0);
  EXPECT_EQ(sent().block.osd.datetimeFormat, 3);
  EXPECT_EQ(sent().block.osd.fontName[0], '\0');
}

TEST_F(SettingsCommandTest, OsdLinesNeedPositionsExceptForALattice) {
  expectRefused(R"({"settings": {"operate": 1, "type": 1}})", 1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 1, "OSD": "text"}})", 1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 1, "count": 1, "text": ["a"], "text_y": [1]}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 2, "count": 1, "text": ["a"],
                                 "text_x": [1], "text_y": [1, 2]}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 1, "count": 4000000000, "text_x": [1], "text_y": [1]}}})",
                1000);

  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.osd.outBase64 = static_cast<char*>(std::calloc(1 << 20, 1));
    std::strcpy(p.result.osd.outBase64, "AAEC");
    p.result.osd.outWidth = 16;
    p.result.osd.outHeight = 8;
    p.result.osd.outLength = 3;
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 11, "count": 1, "text": ["A"],
                                 "fontWidth": 12, "fontHeight": 24, "datetime_x": 1}}})"),
            0);
  EXPECT_EQ(sent().block.osd.datetimeX, 12);
  EXPECT_EQ(sent().block.osd.datetimeY, 24);
  EXPECT_EQ(reply_, styledReply("OSD",
                                "         \"base64\" : \"AAEC\",\n         \"height\" : 8,\n"
                                "         \"length\" : 3,\n         \"width\" : 16\n"));

  // A buffer without a terminator is read no further than its 1 MiB.
  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.osd.outBase64 = static_cast<char*>(std::malloc(1 << 20));
    std::memset(p.result.osd.outBase64, 'A', 1 << 20);
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 11}}})"), 0);
  EXPECT_NE(reply_.find(std::string(1 << 20, 'A') + "\""), std::string::npos);

  // A failed rendering writes no body; the buffer is still released.
  plugin_.results = {1013};
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 1, "OSD": {"type": 11}}})"), 1013);
  EXPECT_TRUE(reply_.empty());
}

TEST_F(SettingsCommandTest, OsdReadBackConvertsLinesToUtf8) {
  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.osd.outCount = 2;
    p.result.osd.outDatetimeX = 5;
    p.result.osd.outDatetimeY = 6;
    p.result.osd.outText = heapArray<char16_t*>({heapLine(u"Gate"), heapLine(u"Caf\u00e9")});
    p.result.osd.outTextPos = heapArray<int32_t>({10, 20, 30, 40});
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "uniqueId": 1, "type": 1}})"), 0);
  EXPECT_EQ(sent().operate, 2);
  EXPECT_EQ(reply_, styledReply("OSD",
                                "         \"count\" : 2,\n         \"datetime_x\" : 5,\n         \"datetime_y\" : 6,\n"
                                "         \"text\" : [ \"Gate\", \"Caf\\u00e9\" ],\n"
                                "         \"text_x\" : [ 10, 30 ],\n         \"text_y\" : [ 20, 40 ]\n"));

  // No lines, or lines the library left null whatever their count: scalars only.
  const std::string scalarsOnly = styledReply(
      "OSD", "         \"count\" : 0,\n         \"datetime_x\" : 5,\n         \"datetime_y\" : 6\n");
  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.osd.outDatetimeX = 5;
    p.result.osd.outDatetimeY = 6;
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 1}})"), 0);
  EXPECT_EQ(reply_, scalarsOnly);
  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.osd.outCount = 3;
    p.result.osd.outDatetimeX = 5;
    p.result.osd.outDatetimeY = 6;
    p.result.osd.outTextPos = heapArray<int32_t>({1, 2, 3, 4, 5, 6});
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 1}})"), 0);
  EXPECT_EQ(reply_, scalarsOnly);
}

TEST_F(SettingsCommandTest, PolygonRegionsTravelAsType11AndAnswerUnderThePageName) {
  std::vector<int32_t> xs, ys;
  plugin_.onSettings = [&](DeviceSettingsParam& p) {
    xs = ints(p.block.polygon.x, p.block.polygon.edge);
    ys = ints(p.block.polygon.y, p.block.polygon.edge);
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "uniqueId": 3, "type": 4, "blockId": 1,
                                 "polygon": {"type": 1, "edge": 4, "x": [1, 2, 3, 4], "y": [5, 6, 7, 8]}}})"),
            0);
  EXPECT_EQ(sent().type, 11);
  EXPECT_EQ(sent().blockId, 1);
  EXPECT_EQ(sent().block.polygon.edge, 4u);
  EXPECT_EQ(xs, (std::vector<int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(ys, (std::vector<int32_t>{5, 6, 7, 8}));

  // Too few points fail even for the default shapes; sub-type 3 needs no coordinates.
  expectRefused(R"({"settings": {"operate": 1, "type": 2, "polygon": {"type": 3, "edge": 2}}})", 1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 2, "polygon": {"type": 6}}})", 1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 2, "polygon": {"type": 1, "edge": 3, "x": [1, 2, 3], "y": [1, 2]}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 2, "polygon": {"type": 1, "edge": 4000000000, "x": [1, 2, 3]}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 8, "polygon": [1]}})", 1003);
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 6, "polygon": {"type": 3, "edge": 3}}})"), 0);
  EXPECT_EQ(sent().block.polygon.x, nullptr);

  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.counted.outCount = 2;
    p.result.counted.outData = heapArray<int32_t>({1, 2, 3, 4});
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 4}})"), 0);
  EXPECT_EQ(sent().type, 11);
  EXPECT_EQ(reply_, styledReply("electricFence",
                                "         \"edge\" : 2,\n         \"x\" : [ 1, 3 ],\n         \"y\" : [ 2, 4 ]\n"));
  for (const auto& [type, name] : {std::pair{2, "motion"}, {6, "offDuty"}, {8, "faceSnapshot"}}) {
    EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": )" + std::to_string(type) + "}}"), 0);
    EXPECT_NE(reply_.find(std::string("\"") + name + "\" : {"), std::string::npos) << name;
  }
}

TEST_F(SettingsCommandTest, PrivacyCoverRectanglesAndColour) {
  std::vector<std::vector<int32_t>> edges;
  plugin_.onSettings = [&](DeviceSettingsParam& p) {
    const PrivacyBlock& b = p.block.privacy;
    edges = {ints(b.left, b.count), ints(b.top, b.count), ints(b.right, b.count), ints(b.bottom, b.count)};
  };
  const auto request = [](const std::string& colour) {
    return R"({"settings": {"operate": 1, "type": 3, "privacyCover": {"type": 1, "count": 2,
               "left": [1, 2], "right": [3, 4], "top": [5, 6], "bottom": [7, 8], "fillColor": ")" +
           colour + "\"}}}";
  };
  EXPECT_EQ(run(request("00FF00")), 0);
  EXPECT_EQ(sent().block.privacy.fillColor, 0x0000FF00u);
  EXPECT_EQ(sent().block.privacy.count, 2u);
  EXPECT_EQ(edges, (std::vector<std::vector<int32_t>>{{1, 2}, {5, 6}, {3, 4}, {7, 8}}));
  EXPECT_EQ(run(request("0x0000000000ff")), 0);
  EXPECT_EQ(sent().block.privacy.fillColor, 0xFFu);

  expectRefused(request("00000000000000000001"), 1000);  // 20 characters
  expectRefused(request("#00FF00"), 1000);
  expectRefused(request("1FFFFFFFF"), 1000);  // beyond 32 bits
  expectRefused(R"({"settings": {"operate": 1, "type": 3, "privacyCover": {"type": 1, "count": 1,
                                 "left": [1], "right": [3], "top": [5]}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 3, "privacyCover": null}})", 1003);

  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.counted.outCount = 2;
    p.result.counted.outData = heapArray<int32_t>({1, 2, 3, 4, 5, 6, 7, 8});
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 3}})"), 0);
  EXPECT_EQ(reply_, styledReply("privacyCover",
                                "         \"bottom\" : [ 4, 8 ],\n         \"count\" : 2,\n"
                                "         \"left\" : [ 1, 5 ],\n         \"right\" : [ 3, 7 ],\n"
                                "         \"top\" : [ 2, 6 ]\n"));
}

TEST_F(SettingsCommandTest, CrossingLineUsesFixedPairs) {
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 5, "intrusion": {"type": 1, "orientation": 2,
                                 "x": [1, 2, 3], "y": [1.9, -2.7]}}})"),
            0);
  EXPECT_EQ(sent().block.crossLine.orientation, 2);
  EXPECT_EQ(sent().block.crossLine.x[0], 0);  // a wrong size is no error; both stay 0
  EXPECT_EQ(sent().block.crossLine.x[1], 0);
  EXPECT_EQ(sent().block.crossLine.y[0], 1);
  EXPECT_EQ(sent().block.crossLine.y[1], -2);
  // Numbers beyond 32 bits are clamped; other elements leave their slot.
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 5, "intrusion": {"type": 1, "x": [1e300, true],
                                 "y": [-9000000000, 4294967296]}}})"),
            0);
  EXPECT_EQ(sent().block.crossLine.x[0], INT32_MAX);
  EXPECT_EQ(sent().block.crossLine.x[1], 0);
  EXPECT_EQ(sent().block.crossLine.y[0], INT32_MIN);
  EXPECT_EQ(sent().block.crossLine.y[1], INT32_MAX);

  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.crossLine = CrossLineResult{3, {10, 20}, {30, 40}};
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 5}})"), 0);
  EXPECT_EQ(reply_, styledReply("crossBorder",
                                "         \"orientation\" : 3,\n         \"x\" : [ 10, 20 ],\n"
                                "         \"y\" : [ 30, 40 ]\n"));
}

TEST_F(SettingsCommandTest, PassengerRegionAndBoundary) {
  expectRefused(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 2}}})", 1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 1, "boundary": 4}}})", 1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 1, "boundary": {}, "edge": 2,
                                 "x": [1], "y": [1, 2]}}})",
                1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 1, "boundary": {}, "edge": -1, "x": []}}})",
                1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 1, "boundary": {}, "edge": 2,
                                 "x": [1, 2], "y": [1]}}})",
                1000);

  std::vector<int32_t> xs;
  plugin_.onSettings = [&](DeviceSettingsParam& p) { xs = ints(p.block.passenger.x, 2); };
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 7, "passenger": {"type": 1, "edge": 2, "x": [1, 2], "y": [3, 4],
                                 "orientation": 1, "boundary": {"left": 5, "top": 6, "right": 7, "bottom": 8}}}})"),
            0);
  const PassengerBlock& b = sent().block.passenger;
  EXPECT_EQ(b.edge, 2);
  EXPECT_EQ(xs, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(b.orientation, 1);
  EXPECT_EQ((std::vector<int32_t>{b.boundaryLeft, b.boundaryTop, b.boundaryRight, b.boundaryBottom}),
            (std::vector<int32_t>{5, 6, 7, 8}));

  plugin_.onSettings = [](DeviceSettingsParam& p) {
    p.result.counted.outCount = 1;
    p.result.counted.outData = heapArray<int32_t>({9, 8});
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 7}})"), 0);
  EXPECT_EQ(reply_, styledReply("passenger", "         \"edge\" : 1,\n         \"x\" : [ 9 ],\n         \"y\" : [ 8 ]\n"));
}

TEST_F(SettingsCommandTest, FaceAreas) {
  expectRefused(R"({"settings": {"operate": 1, "type": 9, "faceDiscern": {"detect": {}}}})", 1003);
  expectRefused(R"({"settings": {"operate": 1, "type": 9, "faceDiscern": {"detect": {}, "detectDef": []}}})", 1003);
  EXPECT_EQ(run(R"({"settings": {"operate": 1, "type": 9, "faceDiscern": {"type": 1,
      "width": [1, 2], "height": [3, 4], "defWidth": [5, 6], "defHeight": [7], "widthQuoto": [1, 2, 3],
      "heightQuoto": [4, 5, 6], "detect": {"left": 10, "top": 11, "right": 12, "bottom": 13},
      "detectDef": {"left": 20, "top": 21, "right": 22, "bottom": 23}}}})"),
            0);
  const FaceBlock& f = sent().block.face;
  EXPECT_EQ(sent().subType, 1);
  EXPECT_EQ((std::vector<int32_t>{f.width[0], f.width[1], f.height[0], f.height[1], f.defWidth[0], f.defWidth[1],
                                  f.defHeight[0], f.defHeight[1]}),
            (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 0, 0}));
  EXPECT_EQ(ints(f.widthQuoto, 3), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(ints(f.heightQuoto, 3), (std::vector<int32_t>{4, 5, 6}));
  EXPECT_EQ((std::vector<int32_t>{f.detectLeft, f.detectTop, f.detectRight, f.detectBottom, f.detectDefLeft,
                                  f.detectDefTop, f.detectDefRight, f.detectDefBottom}),
            (std::vector<int32_t>{10, 11, 12, 13, 20, 21, 22, 23}));

  plugin_.onSettings = [](DeviceSettingsParam& p) { p.result.face = FaceResult{1, 2, 3, 4, {5, 6}, {7, 8}}; };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 9}})"), 0);
  EXPECT_EQ(reply_, styledReply("faceRecognition",
                                "         \"detect\" : {\n            \"bottom\" : 4,\n            \"left\" : 1,\n"
                                "            \"right\" : 3,\n            \"top\" : 2\n         },\n"
                                "         \"height\" : [ 7, 8 ],\n         \"width\" : [ 5, 6 ]\n"));
}

TEST_F(SettingsCommandTest, LatticeSubTypeIsRefusedOutsideOnScreenText) {
  // The library renders a lattice for sub-type 11 whatever the block; any
  // other block would be read as text pointers.
  expectRefused(R"({"settings": {"operate": 1, "type": 3, "privacyCover": {"type": 11, "count": 0,
                                 "left": [], "right": [], "top": [], "bottom": []}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 5, "intrusion": {"type": 11}}})", 1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 9, "faceDiscern": {"type": 11, "detect": {}, "detectDef": {}}}})",
                1000);
  expectRefused(R"({"settings": {"operate": 1, "type": 2, "polygon": {"type": 11, "edge": 3, "x": [1, 2, 3],
                                 "y": [1, 2, 3]}}})",
                1000);
}

TEST_F(SettingsCommandTest, FailedReadBackWritesNoBodyAndFreesResults) {
  // Leaks here show in the sanitizer build.
  plugin_.results = {1009, 1016, 0};
  plugin_.onSettings = [](DeviceSettingsParam& p) {
    if (p.type == 1) {
      p.result.osd.outCount = 1;
      p.result.osd.outText = heapArray<char16_t*>({heapLine(u"x")});
      p.result.osd.outTextPos = heapArray<int32_t>({1, 2});
    } else {
      p.result.counted.outCount = 1;
      p.result.counted.outData = heapArray<int32_t>({1, 2, 3, 4});
    }
  };
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 3}})"), 1009);
  EXPECT_TRUE(reply_.empty());
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 1}})"), 1016);
  EXPECT_TRUE(reply_.empty());
  // A type without a reply object reaches the library and gets the standard reply.
  plugin_.onSettings = nullptr;
  EXPECT_EQ(run(R"({"settings": {"operate": 2, "type": 12}})"), 0);
  EXPECT_EQ(sent().type, 12);
  EXPECT_TRUE(reply_.empty());
}

}  // namespace
}  // namespace kestrova
