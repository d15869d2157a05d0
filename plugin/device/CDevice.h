#pragma once
// The abstract device session: what the rest of the library may ask of a
// logged-in (or not yet logged-in) device without knowing its kind.
#include <cstdint>
#include <string>

namespace WebPlug_NCL {

class CDevice {
 public:
  virtual ~CDevice() = default;

  // The host address used to log in.
  virtual const std::string& address() const = 0;
  virtual int channelCount() const = 0;
  // -1 while not logged in.
  virtual int32_t loginHandle() const = 0;
  // True while a talk handle is held.
  virtual bool talkActive() const = 0;
  virtual bool multilens() const = 0;

 protected:
  CDevice() = default;
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;
};

}  // namespace WebPlug_NCL
