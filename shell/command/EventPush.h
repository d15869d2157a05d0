#pragma once
// Events of the plug-in library pushed to the page as "serverPush" messages
// on the connection that owns the device.
#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/api/ksplugs.h"

namespace kestrova {

// The push document of an event, in the styled form of every reply.
std::string buildPush(const NotifyEvent& event);

// Where pushes go: SockHub_SendData in the shell; tests capture them.
using PushSender = int (*)(int32_t connectionId, const char* data, size_t length);
void setPushSender(PushSender sender);

// The shell's notify callback. Runs on whichever library thread raised the
// event; uses only its own locals and the thread-safe sender.
int onActiveNotify(const NotifyEvent* event, void* user);

}  // namespace kestrova
