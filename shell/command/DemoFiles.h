#pragma once
// The demo page's files, compiled into the shell from shell/demo (the shell
// reads no file): paths under "/demo/", each with its content type.
#include <span>

#include "platform/sockhub/SockHub.h"

namespace kestrova {

std::span<const SockHubStaticFile> demoFiles();

}  // namespace kestrova
