#pragma once
// What a handler sees of an HTTP request: the method as sent, the decoded
// parameters, and the raw target for reference. Handlers are pure functions
// of this value (and whatever they read from disk), so every rule of a
// handler can be tested without a socket.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace webframework {

class Request {
 public:
  Request() = default;
  Request(std::string method, std::string target) : method_(std::move(method)), target_(std::move(target)) {}

  // The method exactly as the client wrote it ("GET", "get", "POST", ...).
  const std::string& method() const { return method_; }
  const std::string& target() const { return target_; }

  // The first value of a parameter, or none. Values are percent-decoded bytes
  // (UTF-8 when the client sent UTF-8).
  std::optional<std::string_view> param(std::string_view name) const;
  void addParam(std::string name, std::string value) { params_.emplace_back(std::move(name), std::move(value)); }
  const std::vector<std::pair<std::string, std::string>>& params() const { return params_; }

 private:
  std::string method_;
  std::string target_;
  std::vector<std::pair<std::string, std::string>> params_;
};

}  // namespace webframework
