#include "shell/command/JsonReading.h"

#include <json/writer.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/sys/Utf.h"

namespace kestrova {

const Json::Value* member(const Json::Value& object, std::string_view key) {
  if (!object.isObject()) return nullptr;
  return object.find(key.data(), key.data() + key.size());
}

const Json::Value* objectMember(const Json::Value& object, std::string_view key) {
  const Json::Value* value = member(object, key);
  return value != nullptr && value->isObject() ? value : nullptr;
}

void readInt(const Json::Value& object, std::string_view key, int32_t& field) {
  // isInt() also accepts a real with no fraction that fits 32 bits.
  if (const Json::Value* v = member(object, key); v != nullptr && v->isInt()) field = v->asInt();
}

void readUInt(const Json::Value& object, std::string_view key, uint32_t& field) {
  if (const Json::Value* v = member(object, key); v != nullptr && v->isUInt()) field = v->asUInt();
}

void readBool(const Json::Value& object, std::string_view key, uint8_t& field) {
  if (const Json::Value* v = member(object, key); v != nullptr && v->isBool()) field = v->asBool() ? 1 : 0;
}

bool readString(const Json::Value& object, std::string_view key, std::string& out) {
  const Json::Value* v = member(object, key);
  if (v == nullptr || !v->isString()) return false;
  const char* begin = nullptr;
  const char* end = nullptr;
  v->getString(&begin, &end);
  out.assign(begin, end);
  return true;
}

void copyText(const Json::Value& object, std::string_view key, char* field, size_t capacity) {
  std::string text;
  if (readString(object, key, text)) sys::copyUtf8Bounded(field, capacity, text);
}

void copyWideText(const Json::Value& object, std::string_view key, char16_t* field, size_t capacity) {
  std::string text;
  if (readString(object, key, text)) sys::copyUtf16Bounded(field, capacity, sys::utf8ToUtf16(text));
}

namespace {

char* heapCopy(std::string_view text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

char16_t* heapCopy(std::u16string_view text) {
  auto* copy = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
  copy[text.size()] = 0;
  return copy;
}

}  // namespace

char* dupText(const Json::Value& object, std::string_view key) {
  std::string text;
  return readString(object, key, text) ? heapCopy(text) : nullptr;
}

char16_t* dupWideText(const Json::Value& object, std::string_view key) {
  std::string text;
  return readString(object, key, text) ? heapCopy(sys::utf8ToUtf16(text)) : nullptr;
}

int32_t* readIntArray(const Json::Value& object, std::string_view key, uint64_t count) {
  const Json::Value* v = member(object, key);
  if (v == nullptr || !v->isArray() || v->size() != count) return nullptr;
  // calloc of zero elements may answer null; one element keeps the block real.
  auto* block = static_cast<int32_t*>(std::calloc(count == 0 ? 1 : count, sizeof(int32_t)));
  if (block == nullptr) return nullptr;
  for (Json::ArrayIndex i = 0; i < v->size(); ++i) {
    const Json::Value& element = (*v)[i];
    if (!element.isInt()) {
      std::free(block);
      return nullptr;
    }
    block[i] = element.asInt();
  }
  return block;
}

char** readTextArray(const Json::Value& object, std::string_view key, uint64_t count) {
  const Json::Value* v = member(object, key);
  if (v == nullptr || !v->isArray() || v->size() != count) return nullptr;
  auto** array = static_cast<char**>(std::calloc(count == 0 ? 1 : count, sizeof(char*)));
  if (array == nullptr) return nullptr;
  for (Json::ArrayIndex i = 0; i < v->size(); ++i) {
    const Json::Value& element = (*v)[i];
    char* copy = nullptr;
    if (element.isString()) {
      const char* begin = nullptr;
      const char* end = nullptr;
      element.getString(&begin, &end);
      copy = heapCopy(std::string_view(begin, static_cast<size_t>(end - begin)));
    }
    if (copy == nullptr) {
      freeTextArray(i, array);
      return nullptr;
    }
    array[i] = copy;
  }
  return array;
}

char16_t** readWideTextArray(const Json::Value& object, std::string_view key) {
  const Json::Value* v = member(object, key);
  if (v == nullptr || !v->isArray() || v->size() > kWideTextSlots) return nullptr;
  auto** array = static_cast<char16_t**>(std::calloc(kWideTextSlots, sizeof(char16_t*)));
  if (array == nullptr) return nullptr;
  for (Json::ArrayIndex i = 0; i < v->size(); ++i) {
    const Json::Value& element = (*v)[i];
    char16_t* copy = nullptr;
    if (element.isString()) {
      const char* begin = nullptr;
      const char* end = nullptr;
      element.getString(&begin, &end);
      copy = heapCopy(sys::utf8ToUtf16(std::string_view(begin, static_cast<size_t>(end - begin))));
    }
    if (copy == nullptr) {
      freeTextArray(kWideTextSlots, array);
      return nullptr;
    }
    array[i] = copy;
  }
  return array;
}

Json::Value beginReply(const RequestContext& context) {
  Json::Value reply(Json::objectValue);
  reply["code"] = 200;
  reply["msgId"] = context.msgId;
  return reply;
}

std::string writeStyled(const Json::Value& document) {
  // The styled writer is the exact form pages have always received; keep it.
  // One writer per thread keeps its text's capacity from reply to reply; a
  // writer that held a large reply is made afresh, so that one large reply
  // does not keep its memory for the thread's life.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  constexpr size_t kKeptReplyBytes = 64 * 1024;
  thread_local std::optional<Json::StyledWriter> writer;
  if (!writer) writer.emplace();
  std::string text = writer->write(document);
  if (text.size() > kKeptReplyBytes) writer.reset();
  return text;
#pragma GCC diagnostic pop
}

}  // namespace kestrova
