#pragma once
// The callbacks that the WebSocket server calls, and the one dispatcher they
// run. The application installs the dispatcher before it registers the
// callbacks and removes it after the server has stopped.
#include <cstddef>
#include <cstdint>

namespace kestrova {

class Dispatcher;

void installDispatcher(Dispatcher* dispatcher);

// One received text message: dispatch it and send the reply, if any, to the
// same connection. Always 0.
int onReceiveData(int32_t connectionId, int32_t clientPort, const char* text);

// A connection has gone: the connection-gone path; nothing is sent. Always 0.
int onClientAction(int32_t connectionId);

// Sends a text to a connection (SockHub_SendData); used for pushes.
int sendToConnection(int32_t connectionId, const char* data, size_t length);

}  // namespace kestrova
