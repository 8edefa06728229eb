#pragma once
// Base of every entry of the device catalogue: the library's number of the device (for an
// ASIO bundle, its first channel) and the display name.
// Thread contract: Index and Name are fixed after construction and may be read from any
// thread; the control-panel operations run on the user-interface thread.
#include <cstdint>
#include <string>

namespace velloran::audio {

class TDeviceInfo {
 public:
  TDeviceInfo(int32_t iIndex, std::string iName) : fIndex(iIndex), fName(std::move(iName)) {}
  virtual ~TDeviceInfo() = default;
  TDeviceInfo(const TDeviceInfo&) = delete;
  TDeviceInfo& operator=(const TDeviceInfo&) = delete;

  int32_t Index() const { return fIndex; }
  const std::string& Name() const { return fName; }

  virtual bool HasControlPanel() { return false; }
  // Returns when the panel has been opened (or at once when there is none); raises Error.
  virtual void RunControlPanel() {}

 protected:
  int32_t fIndex;
  std::string fName;
};

}  // namespace velloran::audio
