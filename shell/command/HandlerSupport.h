#pragma once
// Small pieces the command handlers share beyond the reading rules.
#include <cstdlib>
#include <json/value.h>
#include <memory>
#include <string_view>

#include "plugin/api/ksplugs.h"
#include "shell/command/CommandEnv.h"
#include "shell/command/JsonReading.h"

namespace kestrova {

// A zero-filled process-heap block that is freed when the handler returns,
// whatever the outcome. The library only borrows it during the call.
template <typename T>
class HeapBuffer {
 public:
  explicit HeapBuffer(size_t count) : data_(static_cast<T*>(std::calloc(count, sizeof(T)))), count_(count) {}
  ~HeapBuffer() { std::free(data_); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;
  T* get() const { return data_; }
  size_t count() const { return count_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  T* data_;
  size_t count_;
};

// Reads an integer key into a record field of another integer type (the
// records keep some JSON ints as u32).
template <typename Field>
void readIntInto(const Json::Value& object, std::string_view key, Field& field) {
  if (const Json::Value* v = member(object, key); v != nullptr && v->isInt()) field = static_cast<Field>(v->asInt());
}

// The text of a fixed narrow buffer that the library wrote, never reading
// past its end even when the library filled it without a terminator.
std::string textOfBuffer(const char* buffer, size_t capacity);

// A local "%Y-%m-%d %H:%M:%S" text as a record time; false when the text is
// not such a time.
bool parseSystemTime(std::string_view text, SystemTime& out);

// Local SystemTime to seconds since 1970; false when it is not a real time.
bool systemTimeToSeconds(const SystemTime& time, int64_t& seconds);

// Runs the command and, when the library answers 1010 (no dock yet), creates
// the dock on the user-interface thread and runs the command once more.
template <typename Call>
int withDockCreation(CommandEnv& env, int dockType, void* record, Call&& call) {
  int result = call();
  if (result == KS_E_CREATE_DOCK) {
    result = env.createDock ? env.createDock(dockType, record) : KS_E_WINDOW;
    if (result == KS_OK) result = call();
  }
  return result;
}

}  // namespace kestrova
