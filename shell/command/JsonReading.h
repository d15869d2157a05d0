#pragma once
// The reading rules every command handler uses to move JSON values into the
// plug-in library's records, and the styled reply writer.
//
// Values are read by type test: a value of the wrong JSON type leaves the
// field at its default and is not an error. Texts that do not fit a fixed
// field are cut at a character boundary, leaving room for the terminator.
// Heap blocks (dup*, read*Array) come from malloc: the plug-in library shares
// the C heap and may keep or free them.
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shell/command/RequestContext.h"

namespace kestrova {

// The member `key` of `object`, or null when `object` is not a JSON object or
// has no such member. Never throws, whatever the document looks like.
const Json::Value* member(const Json::Value& object, std::string_view key);

// The member `key` when it is itself a JSON object, else null.
const Json::Value* objectMember(const Json::Value& object, std::string_view key);

// Each reader takes the containing object and the key; a missing key or a
// value of another type leaves `field` unchanged.
void readInt(const Json::Value& object, std::string_view key, int32_t& field);
void readUInt(const Json::Value& object, std::string_view key, uint32_t& field);
void readBool(const Json::Value& object, std::string_view key, uint8_t& field);
void copyText(const Json::Value& object, std::string_view key, char* field, size_t capacity);
void copyWideText(const Json::Value& object, std::string_view key, char16_t* field, size_t capacity);

// The string value of `key`, when it is a string.
bool readString(const Json::Value& object, std::string_view key, std::string& out);

// Process-heap copies (with terminator) of a string value; null otherwise or
// when memory runs out.
char* dupText(const Json::Value& object, std::string_view key);
char16_t* dupWideText(const Json::Value& object, std::string_view key);

// An array of exactly `count` integers as a zero-filled heap block; null when
// the value is not such an array or an element is not a 32-bit integer.
int32_t* readIntArray(const Json::Value& object, std::string_view key, uint64_t count);

// An array of exactly `count` strings as a heap array of heap UTF-8 copies;
// null on any failure (everything built so far is freed).
char** readTextArray(const Json::Value& object, std::string_view key, uint64_t count);

// Up to kWideTextSlots strings as a heap array of kWideTextSlots UTF-16
// copies (unused slots null). More strings than slots are refused: null.
inline constexpr size_t kWideTextSlots = 64;
char16_t** readWideTextArray(const Json::Value& object, std::string_view key);

// Frees the first `count` entries that are not null, then the array.
template <typename T>
void freeTextArray(size_t count, T** array) {
  if (array == nullptr) return;
  for (size_t i = 0; i < count; ++i) std::free(array[i]);
  std::free(array);
}

// A reply document with "code" 200 and the request's "msgId".
Json::Value beginReply(const RequestContext& context);

// The JSON library's styled form: sorted keys, one member per line,
// three-space indentation, a final line break.
std::string writeStyled(const Json::Value& document);

}  // namespace kestrova
