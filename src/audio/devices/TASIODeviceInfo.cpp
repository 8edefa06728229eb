#include "audio/devices/TASIODeviceInfo.h"

#include <algorithm>
#include <cstring>

#include "core/BassErrorText.h"
#include "core/Error.h"

namespace velloran::audio {

TASIODeviceInfo::TASIODeviceInfo(int32_t iIndex, const BASS_ASIO_DEVICEINFO& iDeviceInfo,
                                 const BASS_ASIO_INFO& iInfo)
    : TDeviceInfo(iIndex, iDeviceInfo.name != nullptr ? iDeviceInfo.name : iInfo.name),
      fChannelCount(static_cast<int32_t>(iInfo.inputs)) {
  fChannelBundles.assign(static_cast<size_t>(std::max(fChannelCount, 0)), 0);
}

TASIODeviceInfo::~TASIODeviceInfo() {
  // Bundles stop their capture (through RemoveChannel) while this object is
  // still whole.
  fSubDevices.clear();
}

void TASIODeviceInfo::ReadConfiguration(const ConfigFile& config) {
  const std::string section = "ASIODevice" + std::to_string(fIndex);
  fSampleRate = config.ReadInteger(section, "Samplerate", 0);
  fBufferSize = config.ReadInteger(section, "BufferSize", 0);
  fThreadCount = config.ReadInteger(section, "ThreadCount", 1);
  int32_t c = 0;
  while (c < fChannelCount) {
    const int32_t size =
        std::max(1, config.ReadInteger(section, "ChannelBundle" + std::to_string(c), 2));
    fChannelBundles[static_cast<size_t>(c)] = size;
    std::string joined;
    for (int32_t channel = c; channel < c + size; ++channel) {
      BASS_ASIO_CHANNELINFO info{};
      const std::string name = BASS_ASIO_ChannelGetInfo(TRUE, static_cast<DWORD>(channel), &info)
                                   ? std::string(info.name)
                                   : std::string(kNoChannelName);
      fChannelNames.push_back(name);
      joined += (joined.empty() ? "" : ", ") + name;
    }
    fSubDevices.push_back(
        std::make_unique<TASIOSubDeviceInfo>(this, c, size, "ASIO: " + fName + " - " + joined));
    c += size;
  }
}

int32_t TASIODeviceInfo::GetChannelBundle(int32_t iChannel) const {
  if (iChannel < 0 || static_cast<size_t>(iChannel) >= fChannelBundles.size()) {
    return 0;
  }
  return fChannelBundles[static_cast<size_t>(iChannel)];
}

std::string TASIODeviceInfo::GetChannelName(int32_t iChannel) const {
  if (iChannel < 0 || static_cast<size_t>(iChannel) >= fChannelNames.size()) {
    return {};
  }
  return fChannelNames[static_cast<size_t>(iChannel)];
}

int32_t TASIODeviceInfo::ActiveChannels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fActiveChannels;
}

int32_t TASIODeviceInfo::SampleRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fSampleRate;
}

int32_t TASIODeviceInfo::BufferSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fBufferSize;
}

int32_t TASIODeviceInfo::ThreadCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fThreadCount;
}

void TASIODeviceInfo::SetSampleRate(int32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  fSampleRate = value;
}

void TASIODeviceInfo::SetBufferSize(int32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  fBufferSize = value;
}

void TASIODeviceInfo::SetThreadCount(int32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  fThreadCount = value;
}

bool TASIODeviceInfo::HasControlPanel() {
  return jack::ControlPanelAvailable();
}

void TASIODeviceInfo::RunControlPanel() {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool initHere = fActiveChannels == 0;
  if (initHere && !BASS_ASIO_Init(fIndex, 0)) {
    throw Error("ASIOInit: " + BassErrorText(BASS_ErrorGetCode()));
  }
  BASS_ASIO_SetDevice(static_cast<DWORD>(fIndex));
  BASS_ASIO_ControlPanel();
  if (initHere) {
    BASS_ASIO_Free();
  }
}

DWORD TASIODeviceInfo::InputProc(BOOL, DWORD, void* buffer, DWORD length, void* user) {
  static_cast<TASIOSubDeviceInfo*>(user)->HandleInput(buffer, length);
  return length;
}

DWORD TASIODeviceInfo::SilenceProc(BOOL, DWORD, void* buffer, DWORD length, void*) {
  std::memset(buffer, 0, length);
  return length;
}

void TASIODeviceInfo::AddChannel(TASIOSubDeviceInfo* iDeviceInfo, uint32_t iSampleRate, bool i16bit,
                                 bool iASIOWorkaround) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto n = static_cast<DWORD>(fIndex);
  bool running = false;
  if (fActiveChannels > 0) {
    BASS_ASIO_SetDevice(n);
    if (BASS_ASIO_IsStarted()) {
      running = true;  // the bundle joins the running driver; the others keep capturing
    } else {
      // The driver went away under its bundles: start it afresh for this one.
      // The bundles that were capturing notice (BundleLost) and restart with
      // their next client.
      BASS_ASIO_Free();
      active_.clear();
      fActiveChannels = 0;
    }
  }
  if (fActiveChannels == 0) {
    if (!BASS_ASIO_Init(fIndex, 0)) {
      throw Error("ASIOInit: " + BassErrorText(BASS_ErrorGetCode()));
    }
    BASS_ASIO_SetDevice(n);
    BASS_ASIO_SetRate(fSampleRate != 0 ? fSampleRate : static_cast<double>(iSampleRate));
    if (iASIOWorkaround) {
      BASS_ASIO_ChannelEnable(FALSE, 0, &TASIODeviceInfo::SilenceProc, nullptr);
    }
  }
  const auto first = static_cast<DWORD>(iDeviceInfo->Index());
  BASS_ASIO_ChannelEnable(TRUE, first, &TASIODeviceInfo::InputProc, iDeviceInfo);
  BASS_ASIO_ChannelSetFormat(TRUE, first, i16bit ? BASS_ASIO_FORMAT_16BIT : BASS_ASIO_FORMAT_FLOAT);
  for (int32_t c = 1; c < iDeviceInfo->ChannelCount(); ++c) {
    BASS_ASIO_ChannelJoin(TRUE, first + static_cast<DWORD>(c), static_cast<int>(first));
  }
  if (running) {
    BASS_ASIO_Update();
  } else {
    BASS_ASIO_Start(static_cast<DWORD>(fBufferSize), static_cast<DWORD>(fThreadCount));
  }
  active_.push_back(iDeviceInfo);
  fActiveChannels = static_cast<int32_t>(active_.size());
}

void TASIODeviceInfo::RemoveChannel(TASIOSubDeviceInfo* iDeviceInfo) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(active_.begin(), active_.end(), iDeviceInfo);
  if (it == active_.end()) {
    return;  // dropped when the driver was restarted after a loss
  }
  const auto n = static_cast<DWORD>(fIndex);
  BASS_ASIO_SetDevice(n);
  active_.erase(it);
  fActiveChannels = static_cast<int32_t>(active_.size());
  if (fActiveChannels < 1) {
    BASS_ASIO_Stop();
    BASS_ASIO_Free();
    return;
  }
  // The other bundles keep capturing: the bundle leaves the running driver, whose update
  // returns once its callback can no longer run.
  BASS_ASIO_ChannelEnable(TRUE, static_cast<DWORD>(iDeviceInfo->Index()), nullptr, nullptr);
  BASS_ASIO_Update();
}

uint32_t TASIODeviceInfo::CurrentRate() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!BASS_ASIO_SetDevice(static_cast<DWORD>(fIndex))) {
    return 0;
  }
  const double rate = BASS_ASIO_GetRate();
  return rate > 0 ? static_cast<uint32_t>(rate) : 0;
}

bool TASIODeviceInfo::BundleLost(TASIOSubDeviceInfo* iDeviceInfo) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(active_.begin(), active_.end(), iDeviceInfo) == active_.end()) {
    return true;
  }
  return !BASS_ASIO_SetDevice(static_cast<DWORD>(fIndex)) || !BASS_ASIO_IsStarted();
}

}  // namespace velloran::audio
