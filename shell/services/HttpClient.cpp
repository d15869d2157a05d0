#include "shell/services/HttpClient.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

namespace kestrova {
namespace {

// Where the write callback puts the body: memory or a descriptor, with the
// running count that enforces the request's size limit.
struct ResponseSink {
  std::string* memory = nullptr;
  int fd = -1;
  uint64_t written = 0;
  uint64_t limit = 0;
  bool overLimit = false;
  bool outOfMemory = false;
};

// libcurl's own sockets are made without close-on-exec; ours are, so that a
// program the shell starts never inherits a connection.
curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address) {
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

size_t writeChunk(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ResponseSink*>(user);
  const size_t length = size * count;
  if (length > sink->limit - sink->written) {
    sink->overLimit = true;
    return 0;  // libcurl ends the transfer with a write error
  }
  if (sink->fd >= 0) {
    size_t done = 0;
    while (done < length) {
      const ssize_t n = ::write(sink->fd, data + done, length - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      done += static_cast<size_t>(n);
    }
  } else if (sink->memory != nullptr) {
    try {
      sink->memory->append(data, length);
    } catch (const std::bad_alloc&) {
      sink->outOfMemory = true;
      return 0;
    }
  }
  sink->written += length;
  return length;
}

int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Appends one header line; false when libcurl runs out of memory.
bool addHeader(std::unique_ptr<curl_slist, HeaderDeleter>& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  list.release();
  list.reset(grown);
  return true;
}

// A header line with a CR or LF would let a value from outside add headers of
// its own; such a line is refused.
bool isSafeHeader(const std::string& line) { return line.find_first_of("\r\n") == std::string::npos; }

}  // namespace

int HttpClient::mapResult(int curlCode, long httpStatus) {
  switch (curlCode) {
    case CURLE_OK:
      return http_result::kOk;
    case CURLE_HTTP_RETURNED_ERROR:
      if (httpStatus == 401) return http_result::kUnauthorized;
      if (httpStatus == 404 || httpStatus == 501) return http_result::kNotSupported;
      if (httpStatus == 500) return http_result::kServerError;
      return http_result::kHttpError;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return http_result::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return http_result::kConnectFailed;
    case CURLE_OUT_OF_MEMORY:
      return http_result::kOutOfMemory;
    case CURLE_OPERATION_TIMEDOUT:
      return http_result::kTimedOut;
    case CURLE_GOT_NOTHING:
      return http_result::kEmptyReply;
    default:
      return http_result::kTransferFailed;
  }
}

int HttpClient::perform(const HttpRequest& request, std::string* body) const {
  if (body != nullptr) body->clear();
  if (request.method < kHttpGet || request.method > kHttpDelete) return http_result::kOk;

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return http_result::kEmptyReply;
  CURL* h = easy.get();

  std::string memory;
  ResponseSink sink;
  sink.limit = request.maxResponseBytes;
  if (request.method == kHttpGet && request.outputFd >= 0) {
    sink.fd = request.outputFd;
  } else {
    sink.memory = &memory;
  }

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  // Only web transfers: a URL assembled from a server's reply must not reach
  // local files or other protocols.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &openSocket);
  // Time-outs must not be delivered by signals on a multi-threaded process.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  if (!request.userPassword.empty()) curl_easy_setopt(h, CURLOPT_USERPWD, request.userPassword.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeChunk);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  if (cancel_ != nullptr) {
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &checkCancel);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel_));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  } else {
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
  }
  if (request.failOnError) curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
  if (request.extraTimeoutMs != -1) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(request.connectTimeoutMs) + static_cast<long>(request.extraTimeoutMs));
  }
  if (!request.verifyTls) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (request.stallTimeoutSeconds > 0) {
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.stallTimeoutSeconds));
  }

  if (!isSafeHeader(request.contentTypeHeader)) return http_result::kTransferFailed;
  for (const std::string& line : request.extraHeaders) {
    if (!isSafeHeader(line)) return http_result::kTransferFailed;
  }
  std::unique_ptr<curl_slist, HeaderDeleter> headers;
  bool headersOk = true;
  switch (request.method) {
    case kHttpGet:
      headersOk = addHeader(headers, request.contentTypeHeader);
      break;
    case kHttpPut:
      headersOk = addHeader(headers, request.contentTypeHeader) && addHeader(headers, "Expect:");
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PUT");
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body != nullptr ? request.body : "");
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body ? request.bodyLength : 0));
      break;
    case kHttpPost:
      headersOk = addHeader(headers, request.contentTypeHeader) && addHeader(headers, "Expect:");
      for (const std::string& line : request.extraHeaders) {
        headersOk = headersOk && addHeader(headers, line);
      }
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body != nullptr ? request.body : "");
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body ? request.bodyLength : 0));
      break;
    case kHttpDelete:
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "DELETE");
      break;
  }
  if (!headersOk) return http_result::kOutOfMemory;
  if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    if (sink.overLimit || sink.outOfMemory) return http_result::kOutOfMemory;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return mapResult(code, status);
  }
  if (body != nullptr) body->swap(memory);
  return http_result::kOk;
}

}  // namespace kestrova
