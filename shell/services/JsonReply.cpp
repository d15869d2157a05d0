#include "shell/services/JsonReply.h"

#include <json/reader.h>

#include <exception>
#include <memory>

namespace kestrova {

bool parseJsonReply(std::string_view text, Json::Value& document) {
  try {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(text.data(), text.data() + text.size(), &document, nullptr);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kestrova
