#pragma once
// The catalogue of every recordable input, built once at process start: an ordered list of
// (identifier, entry) pairs in enumeration order — "WDM:%d" (ALSA capture PCMs), then
// "ASIO:%d:%d:%d" (bundles of the JACK server's capture ports), then "WASAPI:%s" (PulseAudio
// sources), then "GEN:tone", "GEN:silence", "GEN:ramp" — with lookup by identifier ignoring
// letter case. The family lists own the entries; the ASIO driver list is what the settings
// pages walk. Devices that cannot be queried are simply absent; building never fails and never
// starts a sound server.
//
// Thread contract: BuildDeviceCatalogue runs once on the main thread before any slot exists.
// Afterwards the lists never change: the look-up members may be called from any thread. The
// entries' own operations state their contracts.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/devices/TASIODeviceInfo.h"
#include "audio/devices/TDeviceInfo.h"
#include "audio/devices/TGeneratorDeviceInfo.h"
#include "audio/devices/TWASAPIDeviceInfo.h"
#include "audio/devices/TWDMDeviceInfo.h"
#include "core/ConfigFile.h"

namespace velloran::audio {

class DeviceCatalogue {
 public:
  DeviceCatalogue() = default;
  ~DeviceCatalogue();
  DeviceCatalogue(const DeviceCatalogue&) = delete;
  DeviceCatalogue& operator=(const DeviceCatalogue&) = delete;

  int Count() const { return static_cast<int>(entries_.size()); }
  // Index of an identifier, ignoring letter case; -1 when absent.
  int IndexOf(std::string_view identifier) const;
  // The identifier and entry at an index; "" / nullptr out of range.
  const std::string& Identifier(int index) const;
  TDeviceInfo* Entry(int index) const;
  // The entry of an identifier (ignoring letter case); nullptr when absent.
  TDeviceInfo* Find(std::string_view identifier) const;
  // The capturing entry of an identifier; nullptr when absent (or not capturing-capable).
  TDeviceInfoWithClients* FindCapture(std::string_view identifier) const;

  const std::vector<std::unique_ptr<TWDMDeviceInfo>>& WDMDevices() const { return wdm_; }
  const std::vector<std::unique_ptr<TASIODeviceInfo>>& ASIODevices() const { return asio_; }
  const std::vector<std::unique_ptr<TWASAPIDeviceInfo>>& WASAPIDevices() const { return wasapi_; }
  const std::vector<std::unique_ptr<TGeneratorDeviceInfo>>& GeneratorDevices() const {
    return generators_;
  }

 private:
  friend std::unique_ptr<DeviceCatalogue> BuildDeviceCatalogue(const ConfigFile& config);
  void Add(std::string identifier, TDeviceInfo* entry);

  std::vector<std::pair<std::string, TDeviceInfo*>> entries_;
  std::vector<std::unique_ptr<TWDMDeviceInfo>> wdm_;
  std::vector<std::unique_ptr<TASIODeviceInfo>> asio_;
  std::vector<std::unique_ptr<TWASAPIDeviceInfo>> wasapi_;
  std::vector<std::unique_ptr<TGeneratorDeviceInfo>> generators_;
};

// Enumerates every family (reading the "ASIODevice%d" sections) and returns the catalogue.
std::unique_ptr<DeviceCatalogue> BuildDeviceCatalogue(const ConfigFile& config);

}  // namespace velloran::audio
