#pragma once
// One ASIO driver (on Linux: the default JACK server). It is never selected itself; its
// bundles (TASIOSubDeviceInfo) are. It keeps the bundle layout read from the "ASIODevice%d"
// section and the driver parameters used when it starts, and runs the driver for all of its
// capturing bundles: the first bundle starts the driver, further bundles join and leave the
// running driver (the other bundles keep capturing), the last one stops it.
//
// Thread contract: AddChannel, RemoveChannel, RunControlPanel, the parameter accessors and
// CurrentRate take the driver's own mutex (held across the library calls, never by the
// capture thread). Called with a bundle's mutex held (bundle -> driver lock order). The layout
// (channel names, bundles, sub-devices) is fixed after ReadConfiguration.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/bassasio.h"
#include "audio/devices/TASIOSubDeviceInfo.h"
#include "audio/devices/TDeviceInfo.h"
#include "core/ConfigFile.h"

namespace velloran::audio {

class TASIODeviceInfo : public TDeviceInfo {
 public:
  // Name shown for a bundle channel past the driver's last input.
  static constexpr const char* kNoChannelName = "(none)";

  TASIODeviceInfo(int32_t iIndex, const BASS_ASIO_DEVICEINFO& iDeviceInfo,
                  const BASS_ASIO_INFO& iInfo);
  ~TASIODeviceInfo() override;

  // Reads "Samplerate", "BufferSize", "ThreadCount" and the "ChannelBundle%d" keys of section
  // "ASIODevice%d" and creates the bundles. The driver must be initialised and current.
  void ReadConfiguration(const ConfigFile& config);

  const std::vector<std::unique_ptr<TASIOSubDeviceInfo>>& SubDevices() const { return fSubDevices; }
  int32_t ChannelCount() const { return fChannelCount; }
  // Bundle size at a bundle's first channel, 0 at the other channels and out of range.
  int32_t GetChannelBundle(int32_t iChannel) const;
  // Name of an input channel; "" out of range.
  std::string GetChannelName(int32_t iChannel) const;
  int32_t ActiveChannels() const;

  int32_t SampleRate() const;
  int32_t BufferSize() const;
  int32_t ThreadCount() const;
  // The settings pages change these in memory; they apply when the driver next starts.
  void SetSampleRate(int32_t value);
  void SetBufferSize(int32_t value);
  void SetThreadCount(int32_t value);

  bool HasControlPanel() override;
  void RunControlPanel() override;

  // Bundle start and stop (from TASIOSubDeviceInfo). AddChannel raises Error "ASIOInit: %s".
  void AddChannel(TASIOSubDeviceInfo* iDeviceInfo, uint32_t iSampleRate, bool i16bit,
                  bool iASIOWorkaround);
  void RemoveChannel(TASIOSubDeviceInfo* iDeviceInfo);
  // The driver's current rate (truncated), 0 when it is not running.
  uint32_t CurrentRate();
  // True when the bundle does not capture although it was started (the driver went away).
  bool BundleLost(TASIOSubDeviceInfo* iDeviceInfo);

 private:
  static DWORD InputProc(BOOL input, DWORD channel, void* buffer, DWORD length, void* user);
  static DWORD SilenceProc(BOOL input, DWORD channel, void* buffer, DWORD length, void* user);

  std::vector<std::unique_ptr<TASIOSubDeviceInfo>> fSubDevices;
  int32_t fActiveChannels = 0;
  int32_t fChannelCount = 0;
  std::vector<std::string> fChannelNames;
  std::vector<int32_t> fChannelBundles;
  int32_t fSampleRate = 0;
  int32_t fBufferSize = 0;
  int32_t fThreadCount = 1;

  mutable std::mutex mutex_;
  std::vector<TASIOSubDeviceInfo*> active_;  // the bundles that capture
};

}  // namespace velloran::audio
