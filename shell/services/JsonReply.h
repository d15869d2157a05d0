#pragma once
// Parsing of the JSON replies of outside services.
#include <json/value.h>

#include <string_view>

namespace kestrova {

// True when `text` is JSON. Never throws: a reply nested too deeply or
// otherwise malformed is simply not JSON.
bool parseJsonReply(std::string_view text, Json::Value& document);

}  // namespace kestrova
