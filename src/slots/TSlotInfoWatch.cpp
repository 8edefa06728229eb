// Faults of a recording slot that the main timer looks for on every rotation check, so that a
// slot never goes on silently recording nothing: an input device that stopped delivering is
// reported and re-attached when it returns, a file that could not start is retried with the
// same back-off as an encoder that ended on its own, and a current file that someone deleted
// is noticed and replaced instead of being written on unseen.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TDeviceInfoWithClients.h"
#include "audio/encode/BassEncode.h"
#include "audio/engine/Engine.h"
#include "core/Clock.h"
#include "slots/RecordingsWriteQueue.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

bool TSlotInfo::WatchFaults() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  WatchDroppedAudio();
  if (WatchInput()) {
    return true;
  }
  if (CurrentFileDeleted()) {
    DoLogMessage("The file " + fCurrentFilename + " was deleted while it was being written; " +
                 "starting a new file");
    // The deleted file has no duration to keep: its row goes with it.
    if (fCurrentRecordingID != 0 && fRecordingsWrites) {
      fRecordingsWrites->FileDeleted(fCurrentRecordingID);
    }
    fCurrentRecordingID = 0;
    CycleEncoder();
    return true;
  }
  if (fFileStartFailure.active && fEncoder == 0) {
    const int steps = std::clamp(fFileStartFailure.inARow, 1, kEncoderMaxBackoffSteps);
    if (TickCount64() - fFileStartFailure.tick >= kEncoderRestartDelay << (steps - 1)) {
      CycleEncoder();
      return true;
    }
  }
  return false;
}

bool TSlotInfo::WatchInput() {
  if (fCurrentDeviceInfo != nullptr && fCurrentDeviceInfo->CaptureIsLost()) {
    fInputLoss = {true, TickCount64(), fCurrentDeviceInfo->Name()};
    fErrorMessage = "Input device lost: " + fInputLoss.device;
    DoLogMessage(fErrorMessage);
    // Detached, so that the lost capture is closed and can be opened afresh. The open file goes
    // on with silence, which the silence monitor sees like any other.
    StopRecording();
    return false;
  }
  if (!fInputLoss.active) {
    return false;
  }
  if (fCurrentDeviceInfo != nullptr || fSettings.fRecordSource != rsSoundcard) {
    fInputLoss = InputLoss{};  // connected again, or another input chosen, by StartRecording
    return false;
  }
  const uint64_t now = TickCount64();
  if (now - fInputLoss.lastTry < kInputRetryInterval) {
    return false;
  }
  fInputLoss.lastTry = now;
  if (!TryReattachInput()) {
    return false;
  }
  DoLogMessage("Input device back: recording from " + fCurrentDeviceInfo->Name() + " again");
  fInputLoss = InputLoss{};
  if (fEncoder == 0 && fSettings.fEnabled) {
    CycleEncoder();  // a file that could not start without input starts now
    return true;
  }
  return false;
}

bool TSlotInfo::TryReattachInput() {
  if (fMixer == 0 || fCatalogue == nullptr || fSettings.fDevice.empty()) {
    return false;
  }
  audio::TDeviceInfoWithClients* device = fCatalogue->FindCapture(fSettings.fDevice);
  if (device == nullptr) {
    return false;
  }
  HSTREAM channel = 0;
  try {
    channel = device->AddClient(static_cast<uint32_t>(fEffectiveSamplerate), fSettings.fRecord16Bit,
                                fSettings.fASIOWorkaround);
  } catch (const std::exception&) {
    return false;  // still gone: said once when it was lost
  }
  if (channel == 0) {
    return false;
  }
  if (!BASS_Mixer_StreamAddChannel(fMixer, channel, 0)) {
    device->RemoveClient(channel);
    BASS_StreamFree(channel);
    return false;
  }
  fChannel = channel;
  fCurrentDeviceInfo = device;
  fCurrentDeviceID = fSettings.fDevice;
  fErrorMessage.clear();
  if (fStreamingThread) {
    fStreamingThread->SignalEvent();
  }
  return true;
}

void TSlotInfo::NoteFileStartFailure(const std::string& cause) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fErrorMessage = cause;
  if (!fFileStartFailure.active || fFileStartFailure.cause != cause) {
    DoLogMessage("Unable to start a new file: " + cause);
  }
  fFileStartFailure.active = true;
  fFileStartFailure.cause = cause;
  fFileStartFailure.tick = TickCount64();
  fFileStartFailure.inARow = std::min(fFileStartFailure.inARow + 1, kEncoderMaxBackoffSteps);
}

void TSlotInfo::ClearFileStartFailure() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (fFileStartFailure.active && fEncoder == 0 && fErrorMessage == fFileStartFailure.cause) {
    fErrorMessage.clear();  // no file is wanted now, so none is failing
  }
  fFileStartFailure = FileStartFailure{};
  fCurrentFileIdentity = FileIdentity{};
}

bool TSlotInfo::CurrentFileDeleted() {
  if (fEncoder == 0 || fCurrentFilename.empty()) {
    return false;
  }
  struct stat info {};
  if (::stat(fCurrentFilename.c_str(), &info) != 0) {
    // An external encoder creates its file a moment after it starts: only a file that has been
    // seen can have been deleted. A path that cannot be looked at (permissions) tells nothing.
    return fCurrentFileIdentity.seen && (errno == ENOENT || errno == ENOTDIR);
  }
  if (!fCurrentFileIdentity.seen) {
    fCurrentFileIdentity = {true, static_cast<uint64_t>(info.st_dev),
                            static_cast<uint64_t>(info.st_ino)};
    return false;
  }
  // Deleted and a new file created under the same name: the encoder still writes the old one.
  return static_cast<uint64_t>(info.st_dev) != fCurrentFileIdentity.device ||
         static_cast<uint64_t>(info.st_ino) != fCurrentFileIdentity.inode;
}

void TSlotInfo::WatchDroppedAudio() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  DroppedAudioReport::Readings readings{};
  if (fChannel != 0) {
    readings[DroppedAudioReport::kInputOverflow] = audio::engine::DroppedBytes(fChannel);
    readings[DroppedAudioReport::kInputUnderrun] = audio::engine::Underruns(fChannel);
  }
  if (fEncoder != 0) {
    if (const auto encoder = audio::FindEncoder(fEncoder)) {
      readings[DroppedAudioReport::kEncoderDrop] = encoder->DroppedBlocks();
    }
  }
  for (const std::string& line : fDroppedAudio.Update(readings, TickCount64())) {
    DoLogMessage(line);
  }
}

void TSlotInfo::ReportDroppedAudioOfFile() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  WatchDroppedAudio();
  for (const std::string& line : fDroppedAudio.CloseFile(fCurrentFilename)) {
    DoLogMessage(line);
  }
}

DroppedAudioReport::Readings TSlotInfo::DroppedAudioInCurrentFile() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fDroppedAudio.FileTotals();
}

}  // namespace velloran::slots
