#include "platform/webframework/Request.h"

namespace webframework {

std::optional<std::string_view> Request::param(std::string_view name) const {
  for (const auto& [key, value] : params_) {
    if (key == name) return std::string_view(value);
  }
  return std::nullopt;
}

}  // namespace webframework
