#pragma once
// SockHub: the local WebSocket server that carries the page's commands.
//
// A C-style boundary over sockhub::Server (one process-wide instance). The
// server listens on 127.0.0.1 only and hands every text message of a
// connection to the receive callback, one message after another, on a thread
// of its own per connection; a callback that blocks stalls only its own
// connection. When a connection ends (closed by either side or dropped), the
// client-action callback runs once on that same thread, after every message
// already received from it was handled.
//
// Threads: SetGlobalParam, SetAllowedOrigins, Start and Stop belong to one
// controlling thread (the shell's user-interface thread). SendData and the
// two registration calls may come from any thread. Stop waits for callbacks that are running,
// so a callback must never wait for the thread that calls Stop; Stop called
// from inside a callback is refused (SOCKHUB_ERR_BUSY).
//
// Messages that arrive before a receive callback is registered are held (the
// connection's reading pauses once its queue is full) and handed over as soon
// as one is registered; Stop drops what is still held. Every function here
// is noexcept and reports failures as result codes. The server reads no
// environment: its caller passes the whole configuration.
#include <cstddef>
#include <cstdint>

extern "C" {

// The server's configuration. `port` 0 picks a free port (tests). Every
// connection is pinged each `pingIntervalMs` and cut once nothing (no
// message, no pong) came from it for `idleTimeoutMs`. `maxSendBytes` bounds
// the output queued for one connection: a larger message is refused with
// SOCKHUB_ERR_TOO_LARGE. A 0 in any of these three keeps its default
// (30000 ms, 60000 ms, 8 MiB). The reserved area is not read.
struct SockHubGlobalParam {
  int32_t port;
  int32_t pingIntervalMs;
  int32_t idleTimeoutMs;
  uint32_t maxSendBytes;
  uint8_t reserved[1012];
};

// One received text message. `text` is zero-terminated and valid only during
// the call; a message with an embedded NUL is seen up to that NUL. Runs on the
// connection's own thread. The result is ignored.
typedef int (*SockHubReceiveFn)(int32_t connectionId, int32_t clientPort, const char* text);
// The connection has ended. Runs once per connection on its own thread. The
// result is ignored.
typedef int (*SockHubClientActionFn)(int32_t connectionId);

// An upgrade request names an origin that nobody listed: the user decides.
// Runs on the server's I/O thread and must not block: show the question and
// answer later with SockHub_AnswerOrigin. `origin` is valid only during the
// call (printable ASCII is not guaranteed: it comes from the network).
typedef void (*SockHubAskOriginFn)(int32_t questionId, const char* origin);
struct SockHubAskOriginParam {
  SockHubAskOriginFn onAskOrigin;
};

// One file served over plain HTTP: `path` ("/demo/index.html"), its
// content type, and its bytes. Everything is copied.
struct SockHubStaticFile {
  const char* path;
  const char* contentType;
  const unsigned char* data;
  size_t size;
};

struct SockHubReceiveDataParam {
  SockHubReceiveFn onReceive;
};
struct SockHubClientActionParam {
  SockHubClientActionFn onClientAction;
};

// Result codes.
enum SockHubResult {
  SOCKHUB_OK = 0,
  SOCKHUB_ERR_INVALID_ARG = 1,       // null record, port out of range, null data or origin
  SOCKHUB_ERR_ALREADY_STARTED = 2,
  SOCKHUB_ERR_NOT_STARTED = 3,
  SOCKHUB_ERR_BIND = 4,              // the port could not be bound
  SOCKHUB_ERR_NO_CONNECTION = 6,     // unknown or already closed connection
  SOCKHUB_ERR_TOO_LARGE = 7,         // more than the connection's output bound
  SOCKHUB_ERR_BUSY = 8,              // Stop called from a callback
  SOCKHUB_ERR_RESOURCES = 9,         // memory or threads ran out
};

// Stores the configuration used by the next Start (port 32858 and the
// defaults until then). Any time; 0 or a code (a negative interval is
// SOCKHUB_ERR_INVALID_ARG).
int SockHub_SetGlobalParam(const SockHubGlobalParam* param);

// Stores the origins that the next Start admits without asking: `count`
// zero-terminated texts, copied, compared without case to the Origin of an
// upgrade request (blank entries are ignored, a trailing '/' dropped).
// Requests without an Origin and the server's own pages
// (http://127.0.0.1:<port>, http://localhost:<port>) are always admitted;
// an empty list admits nobody else. Any time; 0 or a code, and on failure
// the list stays as it was.
int SockHub_SetAllowedOrigins(const char* const* origins, size_t count);

// Stores the files that the next Start serves over plain HTTP (GET and HEAD
// from a loopback Host; see StaticSite) and where "/" redirects (null or
// empty: nowhere). Count 0: plain requests are refused as before (426).
// Any time; 0 or a code.
int SockHub_SetStaticFiles(const SockHubStaticFile* files, size_t count, const char* rootRedirect);

// Binds 127.0.0.1 on the configured port and starts serving. Upgrade
// requests must name a loopback Host (127.0.0.1, localhost or [::1], any
// port); their Origin is judged as SockHub_SetAllowedOrigins says, and
// any other origin is asked about (refused with 403 when no judge is
// registered, it says no, or no answer comes within a minute).
int SockHub_Start();

// Registers (or clears) the judge of unlisted origins. Any time.
int SockHub_AskOriginIf(const SockHubAskOriginParam* param);

// Answers a question: a non-zero `allow` completes the handshake, zero
// refuses it (403). Any thread. SOCKHUB_ERR_NO_CONNECTION when the question
// was already answered, timed out, or its connection is gone.
int SockHub_AnswerOrigin(int32_t questionId, int allow);

// Registers (or, with a null function, clears) the receive callback. The
// record may be a temporary: its function is copied. Before or after Start.
int SockHub_ReceiveDataIf(const SockHubReceiveDataParam* param);

// Registers (or clears) the connection-ended callback; as above.
int SockHub_ClientActiontIf(const SockHubClientActionParam* param);

// Queues `length` bytes of `data` as one text message to the connection.
// Any thread; never blocks on the network. The bytes are copied. Messages
// queued by one thread reach the peer in that order. A connection whose
// unsent output would pass its bound is dropped (a reader that never reads).
int SockHub_SendData(int32_t connectionId, const char* data, size_t length);

// Closes every connection (a close frame "going away"), runs the pending
// callbacks to the end, and joins every thread. Start may be called again.
int SockHub_Stop();

// The port actually bound, 0 when not serving.
uint16_t SockHub_BoundPort();

}  // extern "C"
