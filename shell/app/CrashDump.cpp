#include "shell/app/CrashDump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/sys/TempPath.h"

#ifndef KESTROVA_VERSION_TEXT
#define KESTROVA_VERSION_TEXT "0.0.0.0"
#endif

namespace kestrova {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kMaxFrames = 64;
constexpr size_t kAltStackSize = 64 * 1024;

// Written once by installCrashHandler before the handler is installed; the
// handler only reads them.
char gDumpPrefix[4096];  // "<temporary folder>Kestrova_x738A_", or empty
size_t gDumpPrefixLength = 0;

// The thread that is writing a dump (0 = none). A second thread that faults
// meanwhile waits for the first to end the process; the same thread faulting
// again inside the handler ends the process at once.
std::atomic<long> gDumpingThread{0};

long currentThreadId() { return static_cast<long>(::syscall(SYS_gettid)); }

// Small formatters into caller buffers: the handler may not use stdio.
size_t formatDecimal(char* out, int64_t value) {
  char digits[24];
  size_t count = 0;
  const bool negative = value < 0;
  uint64_t magnitude = negative ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t length = 0;
  if (negative) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  return length;
}

size_t formatHex(char* out, uint64_t value) {
  static const char kDigits[] = "0123456789abcdef";
  char digits[16];
  size_t count = 0;
  do {
    digits[count++] = kDigits[value & 15];
    value >>= 4;
  } while (value != 0);
  size_t length = 0;
  out[length++] = '0';
  out[length++] = 'x';
  while (count > 0) out[length++] = digits[--count];
  return length;
}

void writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

void writeText(int fd, const char* text) { writeAll(fd, text, std::strlen(text)); }

void writeLine(int fd, const char* label, const char* value) {
  writeText(fd, label);
  writeText(fd, value);
  writeText(fd, "\n");
}

void writeNumberLine(int fd, const char* label, int64_t value) {
  char buffer[32];
  const size_t length = formatDecimal(buffer, value);
  buffer[length] = '\0';
  writeLine(fd, label, buffer);
}

void writeHexLine(int fd, const char* label, uint64_t value) {
  char buffer[32];
  const size_t length = formatHex(buffer, value);
  buffer[length] = '\0';
  writeLine(fd, label, buffer);
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "?";
  }
}

void copyFile(int to, const char* path) {
  const int from = ::open(path, O_RDONLY | O_CLOEXEC);
  if (from < 0) return;
  char buffer[4096];
  while (true) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    writeAll(to, buffer, static_cast<size_t>(n));
  }
  ::close(from);
}

void writeDump(int signal, const siginfo_t* info, const void* context) {
  if (gDumpPrefixLength == 0) return;
  const int64_t now = static_cast<int64_t>(::time(nullptr));
  char path[sizeof gDumpPrefix + 32];
  std::memcpy(path, gDumpPrefix, gDumpPrefixLength);
  size_t length = gDumpPrefixLength;
  length += formatDecimal(path + length, now);
  std::memcpy(path + length, ".dmp", 5);

  // Exclusive creation: never overwrite, never follow a planted link. The
  // dump shows the process's memory layout, so only the user may read it.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;

  writeText(fd, "Kestrova crash dump\n");
  writeLine(fd, "version: ", KESTROVA_VERSION_TEXT);
  writeNumberLine(fd, "time: ", now);
  char signalText[64];
  size_t signalLength = formatDecimal(signalText, signal);
  signalText[signalLength++] = ' ';
  std::memcpy(signalText + signalLength, signalName(signal), std::strlen(signalName(signal)) + 1);
  writeLine(fd, "signal: ", signalText);
  if (info != nullptr) {
    writeNumberLine(fd, "code: ", info->si_code);
    writeHexLine(fd, "fault address: ", reinterpret_cast<uintptr_t>(info->si_addr));
  }
  writeNumberLine(fd, "process: ", ::getpid());
  writeNumberLine(fd, "thread: ", currentThreadId());
  char threadName[17] = {};
  ::prctl(PR_GET_NAME, threadName, 0, 0, 0);
  writeLine(fd, "thread name: ", threadName);
#if defined(__x86_64__)
  if (context != nullptr) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    writeHexLine(fd, "instruction pointer: ", static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]));
    writeHexLine(fd, "stack pointer: ", static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]));
  }
#else
  (void)context;
#endif
  writeText(fd, "backtrace:\n");
  void* frames[kMaxFrames];
  const int count = ::backtrace(frames, static_cast<int>(kMaxFrames));
  ::backtrace_symbols_fd(frames, count, fd);
  writeText(fd, "memory map:\n");
  copyFile(fd, "/proc/self/maps");
  ::fsync(fd);
  ::close(fd);
}

void crashHandler(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const long self = currentThreadId();
  long expected = 0;
  if (gDumpingThread.compare_exchange_strong(expected, self)) {
    writeDump(signal, info, context);
  } else if (expected != self) {
    // Another thread is writing the dump and will end the process.
    while (true) ::pause();
  }
  // Let the default action end the process: the re-raised signal stays
  // pending while this handler runs and is delivered as it returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
  errno = savedErrno;
}

}  // namespace

void installCrashStackForThisThread() {
  stack_t current {};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 && current.ss_size >= kAltStackSize) {
    return;  // this thread has one already
  }
  void* memory = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack {};
  stack.ss_sp = memory;
  stack.ss_size = kAltStackSize;
  if (::sigaltstack(&stack, nullptr) != 0) ::munmap(memory, kAltStackSize);
  // The mapping is kept for the rest of the thread's life: the kernel may use
  // it at any moment until then.
}

void installCrashHandler() {
  std::string prefix = sys::tempFolder() + "Kestrova_x738A_";
  if (prefix.size() < sizeof gDumpPrefix - 1) {
    std::memcpy(gDumpPrefix, prefix.c_str(), prefix.size() + 1);
    gDumpPrefixLength = prefix.size();
  }
  // The first backtrace loads the unwinder, which allocates; do it now.
  void* frames[4];
  ::backtrace(frames, 4);

  installCrashStackForThisThread();
  struct sigaction action {};
  action.sa_sigaction = &crashHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

}  // namespace kestrova
