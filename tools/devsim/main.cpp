// devsim: a simulated network video device for development, tests and demos.
#include <signal.h>

#include <cstdio>
#include <iostream>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/devsim/DevSimServer.h"

int main(int argc, char** argv) {
  std::string error;
  auto options = devsim::parseDevSimArgs(argc, argv, &error);
  if (!options) {
    const bool help = error == devsim::devSimUsage();
    (help ? std::cout : std::cerr) << error << (help ? "" : "\n");
    return help ? 0 : 2;
  }
  av_log_set_level(options->verbose ? AV_LOG_WARNING : AV_LOG_QUIET);

  // Block the stop signals in every thread, then wait for one here.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  devsim::DevSimServer server(*options);
  if (!server.start(&error)) {
    std::cerr << "devsim: " << error << '\n';
    return 1;
  }
  if (options->printPorts) {
    std::printf("devsim command=%u media=%u\n", server.commandPort(), server.mediaPort());
    std::fflush(stdout);
  }
  int signal = 0;
  sigwait(&stopSignals, &signal);
  server.stop();
  return 0;
}
