#include "audio/devices/TDeviceInfoWithClients.h"

#include <algorithm>

#include "audio/engine/HandleTable.h"

namespace velloran::audio {

TDeviceInfoWithClients::TDeviceInfoWithClients(int32_t iIndex, std::string iName)
    : TDeviceInfo(iIndex, std::move(iName)) {}

// The families stop their capture in their own destructors; nothing reads the snapshot now.
TDeviceInfoWithClients::~TDeviceInfoWithClients() = default;

std::vector<HSTREAM> TDeviceInfoWithClients::Clients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fClients;
}

bool TDeviceInfoWithClients::Capturing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool TDeviceInfoWithClients::CaptureIsLost() {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_ && CaptureLost();
}

bool TDeviceInfoWithClients::CaptureSixteenBit() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return capture16_;
}

HSTREAM TDeviceInfoWithClients::AddClient(uint32_t iSampleRate, bool i16bit, bool iASIOWorkaround) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_ && CaptureLost()) {
    StopLocked();
  }
  bool startedHere = false;
  if (!running_) {
    // Clients still attached after a lost capture keep their stream format.
    bool sixteenBit = fClients.empty() ? i16bit : capture16_;
    StartCapture(iSampleRate, sixteenBit, iASIOWorkaround);
    running_ = true;
    capture16_ = sixteenBit;
    startedHere = true;
  }
  const DWORD flags =
      BASS_STREAM_DECODE | (capture16_ ? 0u : static_cast<DWORD>(BASS_SAMPLE_FLOAT));
  const HSTREAM handle = BASS_StreamCreate(
      GetCaptureSampleRate(), static_cast<DWORD>(fChannelCount), flags, STREAMPROC_PUSH, nullptr);
  ClientStream client = handle != 0 ? ClientStream::Attach(handle) : ClientStream{};
  if (client.handle == 0) {
    const int error = handle != 0 ? BASS_ERROR_HANDLE : BASS_ErrorGetCode();
    if (handle != 0) {
      BASS_StreamFree(handle);
    }
    if (startedHere && fClients.empty()) {
      StopLocked();
    }
    SetLastError(error == BASS_OK ? BASS_ERROR_CREATE : error);
    return 0;
  }
  fClients.push_back(handle);
  clientStreams_.push_back(std::move(client));
  PublishClients();
  SetLastError(BASS_OK);
  return handle;
}

void TDeviceInfoWithClients::RemoveClient(HSTREAM iClient) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(fClients.begin(), fClients.end(), iClient);
  if (it == fClients.end()) {
    return;
  }
  const auto position = it - fClients.begin();
  fClients.erase(it);
  clientStreams_.erase(clientStreams_.begin() + position);
  PublishClients();
  if (fClients.empty() && running_) {
    StopLocked();
  }
}

void TDeviceInfoWithClients::HandleInput(const void* iBuffer, uint32_t iLength) {
  const Snapshot* snapshot = snapshot_.Enter();
  for (const ClientStream& client : snapshot->clients) {
    client.Put(iBuffer, iLength);
  }
  snapshot_.Leave();
}

void TDeviceInfoWithClients::PublishClients() {
  auto fresh = std::make_unique<Snapshot>();
  fresh->clients = clientStreams_;
  snapshot_.Publish(std::move(fresh));
}

void TDeviceInfoWithClients::StopLocked() {
  StopCapture();
  running_ = false;
}

void TDeviceInfoWithClients::StopCaptureIfRunning() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) {
    StopLocked();
  }
}

}  // namespace velloran::audio
