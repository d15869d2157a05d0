#include "shell/command/SettingsCommand.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

#include "platform/sys/Utf.h"
#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

constexpr int32_t kOperateApply = 1;
constexpr int32_t kOperateReadBack = 2;
constexpr int32_t kOperateClear = 3;

// The OSD sub-type that renders text into a dot-matrix lattice; its result is
// a base64 text buffer instead of line arrays.
constexpr int32_t kSubTypeLattice = 11;

// The library's lattice buffer is 1 MiB; the base64 text in it is read no
// further than that, even when the terminator is missing.
constexpr size_t kLatticeBufferBytes = size_t{1} << 20;

// A read-back OSD line longer than this is cut: no line on a picture comes
// near it, and a missing terminator must not send the reader through memory.
constexpr size_t kMaxLineUnits = 64 * 1024;

// "fillColor" is at most this many characters (its record-side text held 20
// bytes with the terminator).
constexpr size_t kMaxFillColorChars = 19;

// The reply object for the block type the page sent; null when the type has
// none. Polygon regions share record type 11 but answer under the page's name.
const char* replyName(int32_t pageType) {
  switch (pageType) {
    case 1: return "OSD";
    case 2: return "motion";
    case 3: return "privacyCover";
    case 4: return "electricFence";
    case 5: return "crossBorder";
    case 6: return "offDuty";
    case 7: return "passenger";
    case 8: return "faceSnapshot";
    case 9: return "faceRecognition";
    default: return nullptr;
  }
}

bool isPolygonPageType(int32_t pageType) {
  return pageType == 2 || pageType == 4 || pageType == 6 || pageType == 8;
}

// A JSON number as a 32-bit integer: reals are truncated toward zero and
// everything outside the 32-bit range is clamped, so no page value can make
// the conversion undefined. Other JSON types give false.
bool numberToInt32(const Json::Value& value, int32_t& out) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  switch (value.type()) {
    case Json::intValue: {
      const int64_t v = value.asInt64();
      out = static_cast<int32_t>(v < kMin ? kMin : (v > kMax ? kMax : v));
      return true;
    }
    case Json::uintValue: {
      const uint64_t v = value.asUInt64();
      out = static_cast<int32_t>(v > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(v));
      return true;
    }
    case Json::realValue: {
      const double v = std::trunc(value.asDouble());
      if (std::isnan(v)) {
        out = 0;
      } else if (v <= static_cast<double>(kMin)) {
        out = static_cast<int32_t>(kMin);
      } else if (v >= static_cast<double>(kMax)) {
        out = static_cast<int32_t>(kMax);
      } else {
        out = static_cast<int32_t>(v);
      }
      return true;
    }
    default:
      return false;
  }
}

// A fixed array of exactly `size` numbers stored in place; a wrong size
// leaves every slot as it is, and an element that is not a number leaves its
// own slot.
void readFixedArray(const Json::Value& object, std::string_view key, int32_t* slots, Json::ArrayIndex size) {
  const Json::Value* v = member(object, key);
  if (v == nullptr || !v->isArray() || v->size() != size) return;
  for (Json::ArrayIndex i = 0; i < size; ++i) numberToInt32((*v)[i], slots[i]);
}

// A colour as hexadecimal digits ("FF0000", an optional "0x" prefix) into a
// 32-bit value. An empty text is 0. Non-hex characters, more than
// kMaxFillColorChars characters or a value beyond 32 bits are refused, so a
// malformed colour never reaches the device as some other colour.
bool parseFillColor(std::string_view text, uint32_t& color) {
  if (text.size() > kMaxFillColorChars) return false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  uint64_t value = 0;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > std::numeric_limits<uint32_t>::max()) return false;
  }
  color = static_cast<uint32_t>(value);
  return true;
}

// The number of points the page announced as a count for readIntArray: a
// negative count matches no array.
uint64_t pointCount(int32_t edge) {
  return edge < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(edge);
}

Json::Value intArray(const int32_t* values, size_t count, size_t stride, size_t offset) {
  Json::Value array(Json::arrayValue);
  for (size_t i = 0; i < count; ++i) array.append(values[i * stride + offset]);
  return array;
}

// One request: the record, the arrays the shell hung on it, and the result
// arrays the library handed back. The destructor frees both kinds, so every
// return path and an exception while building the reply leave nothing behind.
class SettingsRequest {
 public:
  SettingsRequest() { std::memset(&record_, 0, sizeof record_); }
  ~SettingsRequest() {
    freeShellArrays();
    freeResultArrays();
  }
  SettingsRequest(const SettingsRequest&) = delete;
  SettingsRequest& operator=(const SettingsRequest&) = delete;

  int run(CommandEnv& env, const RequestContext& context, const Json::Value& request, std::string& reply);

 private:
  int readOsd(const Json::Value& settings);
  int readPrivacy(const Json::Value& settings);
  int readCrossLine(const Json::Value& settings);
  int readPassenger(const Json::Value& settings);
  int readFace(const Json::Value& settings);
  int readPolygon(const Json::Value& settings);

  Json::Value osdReply() const;
  Json::Value latticeReply() const;
  Json::Value privacyReply() const;
  Json::Value crossLineReply() const;
  Json::Value pointReply(bool signedEdge) const;
  Json::Value faceReply() const;

  // readIntArray that remembers the block so that it is freed later.
  int32_t* ownIntArray(const Json::Value& object, std::string_view key, uint64_t count) {
    int32_t* block = readIntArray(object, key, count);
    if (block != nullptr) ownedInts_[ownedIntCount_++] = block;
    return block;
  }

  void freeShellArrays() {
    // The shell frees what it allocated from its own copies of the pointers,
    // not from the record, which the library could have written over.
    freeTextArray(static_cast<size_t>(ownedTextCount_), ownedText_);
    ownedText_ = nullptr;
    for (size_t i = 0; i < ownedIntCount_; ++i) std::free(ownedInts_[i]);
    ownedIntCount_ = 0;
  }

  void freeResultArrays() {
    if (!called_) return;
    if (record_.operate == kOperateApply && record_.type == SETTINGS_OSD) {
      // Only a lattice rendering places a buffer here; otherwise it is null.
      std::free(record_.result.osd.outBase64);
    } else if (record_.operate == kOperateReadBack) {
      switch (record_.type) {
        case SETTINGS_OSD:
          if (record_.result.osd.outText != nullptr) freeTextArray(record_.result.osd.outCount, record_.result.osd.outText);
          std::free(record_.result.osd.outTextPos);
          break;
        case SETTINGS_PRIVACY:
        case SETTINGS_PASSENGER:
        case SETTINGS_POLYGON:
          std::free(record_.result.counted.outData);
          break;
        default:
          break;
      }
    }
    std::memset(&record_.result, 0, sizeof record_.result);
  }

  DeviceSettingsParam record_;
  int32_t pageType_ = 0;
  bool called_ = false;
  char** ownedText_ = nullptr;
  uint64_t ownedTextCount_ = 0;
  // At most four integer arrays hang on one block (the privacy rectangles).
  std::array<int32_t*, 4> ownedInts_{};
  size_t ownedIntCount_ = 0;
};

int SettingsRequest::run(CommandEnv& env, const RequestContext& context, const Json::Value& request,
                         std::string& reply) {
  const Json::Value* settings = objectMember(request, "settings");
  if (settings == nullptr) return KS_E_INVALID;
  readInt(*settings, "operate", record_.operate);
  if (record_.operate != kOperateApply && record_.operate != kOperateReadBack && record_.operate != kOperateClear) {
    return KS_E_INVALID;
  }
  readUInt(*settings, "uniqueId", record_.uniqueId);

  if (record_.operate == kOperateClear) {
    // A clear hides every editor; nothing else in the request matters.
    called_ = true;
    return env.plugin->deviceSettings(&record_, 0);
  }

  readInt(*settings, "type", pageType_);
  readInt(*settings, "blockId", record_.blockId);
  // Record type 11 is the library's own name for the polygon regions; the
  // page names them 2, 4, 6 and 8, and without that name there is no reply
  // object for a read back.
  if (pageType_ == SETTINGS_POLYGON) return KS_E_INVALID;
  record_.type = isPolygonPageType(pageType_) ? SETTINGS_POLYGON : pageType_;

  if (record_.operate == kOperateApply) {
    int code = KS_OK;
    switch (record_.type) {
      case SETTINGS_OSD: code = readOsd(*settings); break;
      case SETTINGS_PRIVACY: code = readPrivacy(*settings); break;
      case SETTINGS_CROSS_LINE: code = readCrossLine(*settings); break;
      case SETTINGS_PASSENGER: code = readPassenger(*settings); break;
      case SETTINGS_FACE: code = readFace(*settings); break;
      case SETTINGS_POLYGON: code = readPolygon(*settings); break;
      default: break;  // Other types carry no block; the library hides every editor.
    }
    if (code != KS_OK) return code;
    // The library renders a lattice for sub-type 11 without consulting the
    // block type, reading the block as on-screen text. Any other block under
    // that sub-type would be read as text pointers, so it never leaves here.
    if (record_.subType == kSubTypeLattice && record_.type != SETTINGS_OSD) return KS_E_INVALID;
  }

  called_ = true;
  const int result = env.plugin->deviceSettings(&record_, 0);
  if (result != KS_OK) return result;

  const bool lattice = record_.operate == kOperateApply && record_.type == SETTINGS_OSD &&
                       record_.subType == kSubTypeLattice;
  if (record_.operate != kOperateReadBack && !lattice) return KS_OK;
  const char* name = replyName(pageType_);
  if (name == nullptr) return KS_OK;  // A type without a reply object answers with the standard reply.

  Json::Value body;
  if (lattice) {
    body = latticeReply();
  } else {
    switch (record_.type) {
      case SETTINGS_OSD: body = osdReply(); break;
      case SETTINGS_PRIVACY: body = privacyReply(); break;
      case SETTINGS_CROSS_LINE: body = crossLineReply(); break;
      case SETTINGS_PASSENGER: body = pointReply(true); break;
      case SETTINGS_FACE: body = faceReply(); break;
      case SETTINGS_POLYGON: body = pointReply(false); break;
      default: return KS_OK;
    }
  }
  Json::Value document = beginReply(context);
  document["settings"][name] = std::move(body);
  reply = writeStyled(document);
  return KS_OK;
}

int SettingsRequest::readOsd(const Json::Value& settings) {
  const Json::Value* osd = objectMember(settings, "OSD");
  if (osd == nullptr) return KS_E_CHANNEL;
  OsdBlock& block = record_.block.osd;
  readInt(*osd, "type", record_.subType);
  // The line index may come with the request itself; it then wins.
  if (member(settings, "blockId") == nullptr) readInt(*osd, "index", record_.blockId);
  switch (record_.subType) {
    case 5: case 6: case 7: case 8: case 10:
      return KS_OK;  // show, hide and delete-all act on what the device has
    default:
      break;
  }
  readInt(*osd, "datetime_format", block.datetimeFormat);
  if (record_.subType == 9) return KS_OK;
  copyText(*osd, "fontName", block.fontName, sizeof block.fontName);
  readBool(*osd, "bold", block.bold);
  readBool(*osd, "italic", block.italic);
  readBool(*osd, "strikeOut", block.strikeOut);
  readBool(*osd, "underline", block.underline);
  readUInt(*osd, "count", block.count);
  // Text lines are optional (deleting a line needs none); a list that does
  // not match the count leaves the field null.
  block.text = readTextArray(*osd, "text", block.count);
  if (block.text != nullptr) {
    ownedText_ = block.text;
    ownedTextCount_ = block.count;
  }
  // A lattice needs no positions; every other sub-type places its lines.
  block.textX = ownIntArray(*osd, "text_x", block.count);
  if (block.textX == nullptr && record_.subType != kSubTypeLattice) return KS_E_INVALID;
  block.textY = ownIntArray(*osd, "text_y", block.count);
  if (block.textY == nullptr && record_.subType != kSubTypeLattice) return KS_E_INVALID;
  if (record_.subType == kSubTypeLattice) {
    // For a lattice the date/time position fields carry the font cell size.
    readInt(*osd, "fontWidth", block.datetimeX);
    readInt(*osd, "fontHeight", block.datetimeY);
  } else {
    readInt(*osd, "datetime_x", block.datetimeX);
    readInt(*osd, "datetime_y", block.datetimeY);
  }
  return KS_OK;
}

int SettingsRequest::readPrivacy(const Json::Value& settings) {
  const Json::Value* cover = objectMember(settings, "privacyCover");
  if (cover == nullptr) return KS_E_CHANNEL;
  PrivacyBlock& block = record_.block.privacy;
  readInt(*cover, "type", record_.subType);
  if (record_.subType == 2 || record_.subType == 3) return KS_OK;  // deletions need no rectangles
  readUInt(*cover, "count", block.count);
  const std::pair<const char*, int32_t**> edges[] = {
      {"left", &block.left}, {"right", &block.right}, {"top", &block.top}, {"bottom", &block.bottom}};
  for (const auto& [key, field] : edges) {
    *field = ownIntArray(*cover, key, block.count);
    if (*field == nullptr) return KS_E_INVALID;
  }
  std::string color;
  if (readString(*cover, "fillColor", color) && !parseFillColor(color, block.fillColor)) return KS_E_INVALID;
  return KS_OK;
}

int SettingsRequest::readCrossLine(const Json::Value& settings) {
  const Json::Value* line = objectMember(settings, "intrusion");
  if (line == nullptr) return KS_E_CHANNEL;
  CrossLineBlock& block = record_.block.crossLine;
  readInt(*line, "type", record_.subType);
  if (record_.subType == 4) return KS_OK;  // reset
  readInt(*line, "orientation", block.orientation);
  if (record_.subType == 3) return KS_OK;  // direction only
  readFixedArray(*line, "x", block.x, 2);
  readFixedArray(*line, "y", block.y, 2);
  return KS_OK;
}

int SettingsRequest::readPassenger(const Json::Value& settings) {
  const Json::Value* passenger = objectMember(settings, "passenger");
  const Json::Value* boundary = passenger != nullptr ? objectMember(*passenger, "boundary") : nullptr;
  if (boundary == nullptr) return KS_E_CHANNEL;
  PassengerBlock& block = record_.block.passenger;
  readInt(*passenger, "type", record_.subType);
  if (record_.subType != 1) return KS_OK;  // hide and reset carry no shape
  readInt(*passenger, "edge", block.edge);
  block.x = ownIntArray(*passenger, "x", pointCount(block.edge));
  if (block.x == nullptr) return KS_E_CHANNEL;
  block.y = ownIntArray(*passenger, "y", pointCount(block.edge));
  if (block.y == nullptr) return KS_E_INVALID;
  readInt(*boundary, "left", block.boundaryLeft);
  readInt(*boundary, "top", block.boundaryTop);
  readInt(*boundary, "right", block.boundaryRight);
  readInt(*boundary, "bottom", block.boundaryBottom);
  readInt(*passenger, "orientation", block.orientation);
  return KS_OK;
}

int SettingsRequest::readFace(const Json::Value& settings) {
  const Json::Value* face = objectMember(settings, "faceDiscern");
  const Json::Value* detectDef = face != nullptr ? objectMember(*face, "detectDef") : nullptr;
  const Json::Value* detect = face != nullptr ? objectMember(*face, "detect") : nullptr;
  if (detectDef == nullptr || detect == nullptr) return KS_E_CHANNEL;
  FaceBlock& block = record_.block.face;
  readFixedArray(*face, "width", block.width, 2);
  readFixedArray(*face, "height", block.height, 2);
  readFixedArray(*face, "defWidth", block.defWidth, 2);
  readFixedArray(*face, "defHeight", block.defHeight, 2);
  readFixedArray(*face, "widthQuoto", block.widthQuoto, 3);
  readFixedArray(*face, "heightQuoto", block.heightQuoto, 3);
  readInt(*detect, "left", block.detectLeft);
  readInt(*detect, "top", block.detectTop);
  readInt(*detect, "right", block.detectRight);
  readInt(*detect, "bottom", block.detectBottom);
  readInt(*detectDef, "left", block.detectDefLeft);
  readInt(*detectDef, "top", block.detectDefTop);
  readInt(*detectDef, "right", block.detectDefRight);
  readInt(*detectDef, "bottom", block.detectDefBottom);
  readInt(*face, "type", record_.subType);
  return KS_OK;
}

int SettingsRequest::readPolygon(const Json::Value& settings) {
  const Json::Value* polygon = objectMember(settings, "polygon");
  if (polygon == nullptr) return KS_E_CHANNEL;
  PolygonBlock& block = record_.block.polygon;
  readInt(*polygon, "type", record_.subType);
  if (record_.subType == 2 || record_.subType == 5) return KS_OK;  // default shape for all, delete one
  readUInt(*polygon, "edge", block.edge);
  if (block.edge < 3) return KS_E_INVALID;  // also for the default shapes, which still need a point count
  if (record_.subType == 3 || record_.subType == 6) return KS_OK;
  block.x = ownIntArray(*polygon, "x", block.edge);
  if (block.x == nullptr) return KS_E_INVALID;
  block.y = ownIntArray(*polygon, "y", block.edge);
  if (block.y == nullptr) return KS_E_INVALID;
  return KS_OK;
}

// The results below are read defensively: an array the library left null is
// read as empty, whatever count came with it.

Json::Value SettingsRequest::osdReply() const {
  const OsdResult& result = record_.result.osd;
  const uint32_t count = result.outText != nullptr && result.outTextPos != nullptr ? result.outCount : 0;
  Json::Value body(Json::objectValue);
  body["count"] = count;
  body["datetime_x"] = result.outDatetimeX;
  body["datetime_y"] = result.outDatetimeY;
  if (count == 0) return body;
  Json::Value& text = body["text"] = Json::Value(Json::arrayValue);
  for (uint32_t i = 0; i < count; ++i) {
    const char16_t* line = result.outText[i];
    const size_t units = line != nullptr ? sys::utf16Length(line, kMaxLineUnits) : 0;
    text.append(sys::utf16ToUtf8(std::u16string_view(line != nullptr ? line : u"", units)));
  }
  body["text_x"] = intArray(result.outTextPos, count, 2, 0);
  body["text_y"] = intArray(result.outTextPos, count, 2, 1);
  return body;
}

Json::Value SettingsRequest::latticeReply() const {
  const OsdResult& result = record_.result.osd;
  Json::Value body(Json::objectValue);
  const char* base64 = result.outBase64;
  body["base64"] = base64 != nullptr ? std::string(base64, strnlen(base64, kLatticeBufferBytes)) : std::string();
  body["width"] = result.outWidth;
  body["height"] = result.outHeight;
  body["length"] = result.outLength;
  return body;
}

Json::Value SettingsRequest::privacyReply() const {
  const CountedResult& result = record_.result.counted;
  const uint32_t count = result.outData != nullptr ? result.outCount : 0;
  Json::Value body(Json::objectValue);
  body["count"] = count;
  if (count == 0) return body;
  body["left"] = intArray(result.outData, count, 4, 0);
  body["top"] = intArray(result.outData, count, 4, 1);
  body["right"] = intArray(result.outData, count, 4, 2);
  body["bottom"] = intArray(result.outData, count, 4, 3);
  return body;
}

Json::Value SettingsRequest::crossLineReply() const {
  const CrossLineResult& result = record_.result.crossLine;
  Json::Value body(Json::objectValue);
  body["x"] = intArray(result.outX, 2, 1, 0);
  body["y"] = intArray(result.outY, 2, 1, 0);
  body["orientation"] = result.outOrientation;
  return body;
}

Json::Value SettingsRequest::pointReply(bool signedEdge) const {
  const CountedResult& result = record_.result.counted;
  const uint32_t count = result.outData != nullptr ? result.outCount : 0;
  Json::Value body(Json::objectValue);
  // The passenger region reports its point count as a signed number, the
  // polygon regions as an unsigned one.
  if (signedEdge && count <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    body["edge"] = static_cast<int32_t>(count);
  } else {
    body["edge"] = count;
  }
  if (count == 0) return body;
  body["x"] = intArray(result.outData, count, 2, 0);
  body["y"] = intArray(result.outData, count, 2, 1);
  return body;
}

Json::Value SettingsRequest::faceReply() const {
  const FaceResult& result = record_.result.face;
  Json::Value body(Json::objectValue);
  Json::Value& detect = body["detect"] = Json::Value(Json::objectValue);
  detect["left"] = result.outDetectLeft;
  detect["top"] = result.outDetectTop;
  detect["right"] = result.outDetectRight;
  detect["bottom"] = result.outDetectBottom;
  body["width"] = intArray(result.outFaceWidth, 2, 1, 0);
  body["height"] = intArray(result.outFaceHeight, 2, 1, 0);
  return body;
}

}  // namespace

int handleSettings(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  // Exceptions (memory running out while building the reply) stay inside the
  // handler; the request object frees every array on the way out.
  try {
    SettingsRequest settingsRequest;
    return settingsRequest.run(env, context, request, reply);
  } catch (const std::bad_alloc&) {
    return KS_E_NO_MEMORY;
  } catch (...) {
    return KS_E_INVALID;
  }
}

}  // namespace kestrova
