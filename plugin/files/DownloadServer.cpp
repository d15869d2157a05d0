#include "plugin/files/DownloadServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <vector>

#include "platform/webframework/WebServer.h"
#include "plugin/files/WorkFolders.h"

namespace ksplugs {
namespace {

using webframework::Request;
using webframework::Response;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool endsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string contentTypeOf(std::string_view name) {
  if (endsWithIgnoreCase(name, ".mp4")) return "video/mp4";
  if (endsWithIgnoreCase(name, ".jpg") || endsWithIgnoreCase(name, ".jpeg")) return "image/jpeg";
  if (endsWithIgnoreCase(name, ".png")) return "image/png";
  if (endsWithIgnoreCase(name, ".bmp")) return "image/bmp";
  return "application/octet-stream";
}

// Splits a relative path into its steps. Empty when the path is absolute,
// empty, or has a ".." step: such a path could name something outside the
// folder, so it names nothing. A trailing '/' names a folder, never a file.
// Empty and "." steps are dropped.
std::vector<std::string_view> safeSteps(std::string_view path) {
  std::vector<std::string_view> steps;
  if (path.empty() || path.front() == '/' || path.back() == '/') return {};
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    if (step == "..") return {};
    if (step.empty() || step == ".") continue;
    if (step.find('\0') != std::string_view::npos) return {};
    steps.push_back(step);
  }
  return steps;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The status a file of this kind and size gets before it is sent.
unsigned statusFor(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return 404;
  if (static_cast<uint64_t>(info.st_size) >= DownloadServer::kFileSizeLimit) return 500;
  if (info.st_size == 0) return 406;
  return 200;
}

}  // namespace

DownloadServer::DownloadServer() = default;

DownloadServer::~DownloadServer() { stop(); }

bool DownloadServer::start() {
  // A private generator: seeding the C library's one would change what every
  // other user of rand() in the process sees.
  std::minstd_rand generator;
  try {
    generator.seed(std::random_device{}());
  } catch (...) {
    generator.seed(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  }
  return start([&generator] { return static_cast<uint16_t>(generator() % 30000 + 1024); });
}

bool DownloadServer::start(const PortPicker& picker) {
  std::lock_guard lock(mutex_);
  if (server_) return true;
  try {
    std::unique_ptr<webframework::WebServer> server;
    for (int attempt = 0; attempt < kStartAttempts && !server; ++attempt) {
      const uint16_t port = picker();
      port_.store(port, std::memory_order_release);
      boost::system::error_code ignored;
      server = webframework::WebServer::open("127.0.0.1", port, ignored);
    }
    if (!server) return false;
    server->registerHandler("download", [](const Request& request) { return handle(request, currentFolders()); });
    port_.store(server->port(), std::memory_order_release);
    webframework::WebServer* serving = server.get();
    thread_ = std::thread([serving] { serving->serve(); });
    server_ = std::move(server);
    return true;
  } catch (...) {
    // No thread could be started or memory ran out: the library runs on
    // without a download server.
    return false;
  }
}

void DownloadServer::stop() {
  std::lock_guard lock(mutex_);
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

bool DownloadServer::running() const {
  std::lock_guard lock(mutex_);
  return server_ != nullptr;
}

std::string DownloadServer::addressFor(uint16_t port, std::string_view relativePath) {
  std::string address = "http://127.0.0.1:" + std::to_string(port) + "/download/";
  for (char c : relativePath) {
    if (c == '\\') c = '/';
    const unsigned char byte = static_cast<unsigned char>(c);
    // Names stay as they are, but the few bytes that would end the path or
    // start an escape are escaped, so the server finds the same file again.
    if (c == '%' || c == '?' || c == '#' || byte <= 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      address.push_back('%');
      address.push_back(kHex[byte >> 4]);
      address.push_back(kHex[byte & 0x0F]);
    } else {
      address.push_back(c);
    }
  }
  if (address.size() >= kAddressBuffer) return {};
  return address;
}

std::string DownloadServer::addressForFile(std::string_view path) const {
  const Folders folders = currentFolders();
  for (const std::string& folder : {folders.video, folders.image}) {
    if (!folder.empty() && path.size() > folder.size() && path.substr(0, folder.size()) == folder) {
      return addressFor(path.substr(folder.size()));
    }
  }
  return {};
}

DownloadServer::Folders DownloadServer::currentFolders() {
  // A work root that is not a private folder of ours (someone else's, or a
  // link) offers nothing: its files are not the library's. A missing one is
  // made, so that it cannot be taken by someone else meanwhile.
  const int root = WorkFolders::openRoot(true);
  if (root < 0) return {};
  ::close(root);
  return {WorkFolders::folder(WorkFolderKind::kVideo), WorkFolders::folder(WorkFolderKind::kImage)};
}

Response DownloadServer::handle(const Request& request, const Folders& folders) {
  if (!equalsIgnoreCase(request.method(), "get")) return Response::withStatus(501);
  std::string file(request.param("file").value_or(std::string_view{}));
  for (char& c : file) {
    if (c == '\\') c = '/';
  }
  const std::string& folder = endsWithIgnoreCase(file, ".mp4") ? folders.video : folders.image;
  const std::vector<std::string_view> steps = safeSteps(file);
  if (steps.empty() || folder.empty()) return Response::withStatus(404);

  // Walk down from the folder one step at a time without following links:
  // a link planted in the folder cannot lead the walk anywhere else, and no
  // name is resolved twice, so nothing can be swapped in between a check and
  // the open.
  Descriptor directory(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0) return Response::withStatus(404);
  for (size_t i = 0; i + 1 < steps.size(); ++i) {
    const std::string step(steps[i]);
    Descriptor next(::openat(directory.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) return Response::withStatus(404);
    directory = std::move(next);
  }
  const std::string name(steps.back());
  struct stat info {};
  if (::fstatat(directory.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return Response::withStatus(404);
  if (const unsigned status = statusFor(info); status != 200) return Response::withStatus(status);

  // O_NONBLOCK: should the name have turned into a FIFO meanwhile, opening it
  // must not wait for a writer; the check below then refuses it.
  Descriptor opened(::openat(directory.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (opened.get() < 0) return Response::withStatus(404);
  if (::fstat(opened.get(), &info) != 0) return Response::withStatus(500);
  if (const unsigned status = statusFor(info); status != 200) return Response::withStatus(status);

  Response response;
  response.contentType = contentTypeOf(name);
  response.file = webframework::OpenFile(opened.release());
  return response;
}

}  // namespace ksplugs
