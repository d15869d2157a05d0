#pragma once
// The shell's outgoing HTTP: one blocking request per call on libcurl's easy
// interface, the response held in memory or streamed into an open file.
//
// The upgrade watcher calls it on its own thread and the speech service on
// command threads; every call uses its own easy handle, so calls on several
// threads at once are safe. The application calls curl_global_init before the
// first request and curl_global_cleanup after the last one.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova {

// Result codes of a request, shared with the command replies.
namespace http_result {
inline constexpr int kOk = 0;
inline constexpr int kNotSupported = 1001;     // HTTP 404 or 501
inline constexpr int kOutOfMemory = 1002;      // libcurl out of memory; response over its limit
inline constexpr int kNameNotResolved = 1003;  // proxy or host name
inline constexpr int kEmptyReply = 1005;       // also: no easy handle
inline constexpr int kHttpError = 1007;        // any other HTTP error status
inline constexpr int kTransferFailed = 1013;   // every other libcurl failure
inline constexpr int kTimedOut = 1014;
inline constexpr int kServerError = 1019;      // HTTP 500
inline constexpr int kUnauthorized = 3001;     // HTTP 401
inline constexpr int kConnectFailed = 3002;    // connect, send or receive failure
}  // namespace http_result

enum HttpMethod : int { kHttpGet = 0, kHttpPut = 1, kHttpPost = 2, kHttpDelete = 3 };

struct HttpRequest {
  // 0 GET, 1 PUT, 2 POST, 3 DELETE; any other value sends nothing and
  // succeeds with an empty body.
  int method = kHttpGet;
  // Added to connectTimeoutMs to form the total time-out; -1 sets no time-out
  // at all (the transfer then ends only by itself, a stall, or cancellation).
  int extraTimeoutMs = 5000;
  int connectTimeoutMs = 5000;
  std::string userPassword;  // "user:password"; used only when not empty
  std::string url;
  std::vector<std::string> extraHeaders;  // sent with POST only, after "Expect:"
  // An HTTP status of 400 or above fails the transfer with a mapped code.
  bool failOnError = true;
  const void* body = nullptr;  // PUT and POST
  size_t bodyLength = 0;
  // When not -1 (GET), the response is written to this descriptor instead of
  // memory. The caller opens and closes it.
  int outputFd = -1;
  std::string contentTypeHeader = "Content-Type: application/xml";
  // A response body larger than this ends the transfer with kOutOfMemory, so a
  // hostile or broken server cannot make the shell hold or write without end.
  uint64_t maxResponseBytes = 64u << 20;
  // When not 0, a transfer that moves no byte for this long is abandoned as
  // timed out even without time-outs; long downloads use it instead of a cap.
  int stallTimeoutSeconds = 0;
  // TLS peer and host verification. Requests carry access tokens and fetch
  // installers, so they stay verified unless a caller switches it off.
  bool verifyTls = true;
};

class HttpClient {
 public:
  // `cancel`, when given, is polled during the transfer: once it reads true
  // the request ends with kTransferFailed. The watcher uses it to stop
  // promptly while a transfer without time-outs is waiting.
  explicit HttpClient(const std::atomic<bool>* cancel = nullptr) : cancel_(cancel) {}

  // Runs `request` on the calling thread. On 0 and when `body` is given it
  // receives the response body (empty for a file download); on failure it is
  // left empty. Never throws.
  int perform(const HttpRequest& request, std::string* body = nullptr) const;

  // The mapping of a libcurl result (and the HTTP status, consulted only for
  // libcurl's "HTTP returned error") to a result code.
  static int mapResult(int curlCode, long httpStatus);

 private:
  const std::atomic<bool>* cancel_;  // owned by the caller; read only
};

}  // namespace kestrova
