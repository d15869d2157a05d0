#pragma once
// Anything a DLSDK_ handle names: a login, a stream, a record query, a talk
// channel. close() ends its connection and threads; it is called once, after
// the handle was removed from the table, and may run while other threads
// still hold the object (they then see a closed connection).
namespace devlink {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  virtual void close() = 0;
};

}  // namespace devlink
