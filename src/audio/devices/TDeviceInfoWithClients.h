#pragma once
// A catalogue entry that can capture and feed several slots at once. Each attached slot gets a
// push stream of its own (AddClient); every captured block is copied into every push stream
// (HandleInput). The first client starts the capture, the last one stops it.
//
// All clients get the same bytes, so every push stream is in the format of the running
// capture: a client that asks for another sample format than the one that started it still
// gets the capture's format (the slot's mixer converts).
//
// A capture that has ended by itself (its device went away) is started afresh by the next
// AddClient; when that fails the documented error is raised and the earlier clients stay
// attached to a silent entry until they detach or a later AddClient succeeds.
//
// Thread contract: AddClient, RemoveClient, Clients and the capture operations run on the thread
// that starts and stops slots (they take the entry's own mutex, never held by the capture
// thread). HandleInput runs on the device's capture thread: it takes no lock and allocates
// nothing; it reads an immutable snapshot of the client list (an engine::SnapshotCell, one
// capture thread per entry). A change publishes a new list and waits for a HandleInput in
// progress, so the push streams the old list references stay alive while the capture thread
// uses them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/ClientStream.h"
#include "audio/devices/TDeviceInfo.h"
#include "audio/engine/SnapshotCell.h"

namespace velloran::audio {

class TDeviceInfoWithClients : public TDeviceInfo {
 public:
  TDeviceInfoWithClients(int32_t iIndex, std::string iName);
  ~TDeviceInfoWithClients() override;

  int32_t ChannelCount() const { return fChannelCount; }
  std::vector<HSTREAM> Clients() const;
  // True while the capture runs (first client attached, not yet stopped).
  bool Capturing() const;
  // True when the running capture has ended by itself (its device or server went away); the
  // attached clients get no more data. For the slots' watch on the controlling thread.
  bool CaptureIsLost();
  // The sample format of the running capture (true = 16-bit).
  bool CaptureSixteenBit() const;

  // Returns the new push-stream handle, or 0 when the stream could not be created (the
  // library's error code tells why). Raises Error when the capture cannot start.
  HSTREAM AddClient(uint32_t iSampleRate, bool i16bit, bool iASIOWorkaround);
  // Detaches a push stream; unknown handles are ignored. The caller frees the stream after.
  void RemoveClient(HSTREAM iClient);
  // Capture thread: one block of captured bytes for every client.
  void HandleInput(const void* iBuffer, uint32_t iLength);

  // The family's capture; called with the entry's mutex held. StartCapture may switch i16bit
  // (a float-only device sets it false) and raises Error with the documented message.
  virtual void StartCapture(uint32_t iSampleRate, bool& i16bit, bool iASIOWorkaround) = 0;
  virtual void StopCapture() = 0;
  virtual uint32_t GetCaptureSampleRate() = 0;
  // True when the running capture has ended by itself (device lost).
  virtual bool CaptureLost() { return false; }

 protected:
  // For the destructors of the families: stops a capture still running.
  void StopCaptureIfRunning();

  HRECORD fChannel = 0;
  std::vector<HSTREAM> fClients;
  int32_t fChannelCount = 2;

 private:
  struct Snapshot {
    std::vector<ClientStream> clients;
  };
  void PublishClients();
  void StopLocked();

  mutable std::mutex mutex_;
  std::vector<ClientStream> clientStreams_;  // parallel to fClients
  bool running_ = false;
  bool capture16_ = false;
  engine::SnapshotCell<Snapshot> snapshot_{std::make_unique<Snapshot>()};  // written under mutex_
};

}  // namespace velloran::audio
