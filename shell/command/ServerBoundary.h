#pragma once
// The shell's side of the WebSocket server: its start from the shell's
// configuration, the callbacks that the server calls, and the one dispatcher
// they run. The application installs the dispatcher before it registers the
// callbacks and removes it after the server has stopped.
#include <cstddef>
#include <cstdint>

namespace kestrova {

class Dispatcher;
struct ServiceConfig;

// Hands the configured port and origin list to the server and starts it; on
// the controlling thread (SockHub_Start's). A SockHub result code: a port the
// configuration marks as unusable (-1) is refused with
// SOCKHUB_ERR_INVALID_ARG and nothing is started.
int startServer(const ServiceConfig& config);

void installDispatcher(Dispatcher* dispatcher);

// One received text message: dispatch it and send the reply, if any, to the
// same connection. Always 0.
int onReceiveData(int32_t connectionId, int32_t clientPort, const char* text);

// A connection has gone: the connection-gone path; nothing is sent. Always 0.
int onClientAction(int32_t connectionId);

// Sends a text to a connection (SockHub_SendData); used for pushes.
int sendToConnection(int32_t connectionId, const char* data, size_t length);

}  // namespace kestrova
