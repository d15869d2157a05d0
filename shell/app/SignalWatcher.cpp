#include "shell/app/SignalWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kestrova {
namespace {

// The write end of the pipe, for the handler. One watcher per process.
std::atomic<int> signalPipe{-1};

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr char kStop = 's';
constexpr char kSignal = 'g';

void onSignal(int) {
  const int saved = errno;
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const char byte = kSignal;
    [[maybe_unused]] ssize_t n = write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  if (pipe2(pipe_, O_CLOEXEC) != 0) return;
  fcntl(pipe_[1], F_SETFL, O_NONBLOCK);
  signalPipe.store(pipe_[1]);
  struct sigaction action {};
  action.sa_handler = kestrova::onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kSignals) sigaction(sig, &action, nullptr);
  thread_ = std::thread([this] { run(); });
}

SignalWatcher::~SignalWatcher() {
  for (int sig : kSignals) signal(sig, SIG_DFL);
  signalPipe.store(-1);
  if (thread_.joinable()) {
    const char byte = kStop;
    [[maybe_unused]] ssize_t n = write(pipe_[1], &byte, 1);
    thread_.join();
  }
  for (int fd : pipe_) {
    if (fd >= 0) close(fd);
  }
}

void SignalWatcher::run() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(pipe_[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kStop) return;
    if (onSignal_) onSignal_();
  }
}

}  // namespace kestrova
