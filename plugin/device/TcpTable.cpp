#include "plugin/device/TcpTable.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace ksplugs {
namespace {

bool parseHex(std::string_view text, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 16) return false;
  value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return value <= limit;
}

bool parseDecimal(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// "ADDRESS:PORT" with the address in hex of the expected length.
bool parseEndpoint(std::string_view text, bool ipv6, std::string& address, uint16_t& port) {
  const size_t colon = text.find(':');
  if (colon != (ipv6 ? 32u : 8u)) return false;
  uint64_t value = 0;
  if (!parseHex(text.substr(colon + 1), 0xFFFF, value)) return false;
  address.assign(text.substr(0, colon));
  port = static_cast<uint16_t>(value);
  return true;
}

std::vector<std::string_view> splitBlanks(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

std::string readText(const std::string& path) {
  // "e": close-on-exec, like every descriptor of ours.
  FILE* in = std::fopen(path.c_str(), "rbe");
  if (in == nullptr) return {};
  std::string text;
  char buffer[8192];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, got);
  std::fclose(in);
  return text;
}

std::string readLink(const std::string& path) {
  std::string target(256, '\0');
  while (true) {
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < target.size()) {
      target.resize(static_cast<size_t>(length));
      return target;
    }
    if (target.size() >= 65536) return {};
    target.resize(target.size() * 2);
  }
}

// The ids of every process listed in /proc.
std::vector<uint32_t> processIds() {
  std::vector<uint32_t> ids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return ids;
  while (const dirent* entry = ::readdir(proc)) {
    uint64_t pid = 0;
    if (parseDecimal(entry->d_name, pid) && pid > 0 && pid <= UINT32_MAX) ids.push_back(static_cast<uint32_t>(pid));
  }
  ::closedir(proc);
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool holdsLink(uint32_t pid, const std::string& wanted) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = ::opendir(folder.c_str());
  if (fds == nullptr) return false;  // gone, or another user's
  bool found = false;
  while (const dirent* entry = ::readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    if (readLink(folder + "/" + entry->d_name) == wanted) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
           if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
           return x == y;
         });
}

}  // namespace

std::vector<TcpTable::Row> TcpTable::parse(std::string_view text, bool ipv6) {
  std::vector<Row> rows;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
    const std::vector<std::string_view> fields = splitBlanks(line);
    if (fields.size() < 10 || fields[0].empty() || fields[0].back() != ':') continue;  // the heading, or junk
    Row row;
    row.ipv6 = ipv6;
    std::string remoteAddress;
    uint64_t state = 0;
    if (!parseEndpoint(fields[1], ipv6, row.localAddress, row.localPort)) continue;
    if (!parseEndpoint(fields[2], ipv6, remoteAddress, row.remotePort)) continue;
    if (!parseHex(fields[3], 0xFF, state)) continue;
    if (!parseDecimal(fields[9], row.inode)) continue;
    row.state = static_cast<uint8_t>(state);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<TcpTable::Row> TcpTable::read() {
  std::vector<Row> rows = parse(readText("/proc/net/tcp"), false);
  std::vector<Row> rows6 = parse(readText("/proc/net/tcp6"), true);
  rows.insert(rows.end(), std::make_move_iterator(rows6.begin()), std::make_move_iterator(rows6.end()));
  return rows;
}

std::optional<TcpTable::Row> TcpTable::findLocalPort(uint16_t port) {
  for (Row& row : read()) {
    if (row.localPort == port && row.inode != 0) return std::move(row);
  }
  return std::nullopt;
}

std::optional<uint32_t> TcpTable::ownerOfInode(uint64_t inode) {
  if (inode == 0) return std::nullopt;
  const std::string wanted = "socket:[" + std::to_string(inode) + "]";
  // The calling process first: it is the cheapest to look at, and in tests
  // and a single-process browser it is the one.
  const uint32_t self = static_cast<uint32_t>(::getpid());
  if (holdsLink(self, wanted)) return self;
  for (uint32_t pid : processIds()) {
    if (pid != self && holdsLink(pid, wanted)) return pid;
  }
  return std::nullopt;
}

std::string TcpTable::processImageName(uint32_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::string path = readLink(base + "/exe");
  // A program replaced on disk (an update while it runs) still has its name.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    path.resize(path.size() - kDeleted.size());
  }
  if (!path.empty()) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }
  std::string comm = readText(base + "/comm");
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) comm.pop_back();
  return comm;
}

std::vector<uint32_t> TcpTable::processesNamed(std::string_view imageName) {
  std::vector<uint32_t> matches;
  if (imageName.empty()) return matches;
  for (uint32_t pid : processIds()) {
    if (equalsIgnoreAsciiCase(processImageName(pid), imageName)) matches.push_back(pid);
  }
  return matches;
}

}  // namespace ksplugs
