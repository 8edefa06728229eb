#include "slots/TSlotInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TDeviceInfoWithClients.h"
#include "audio/encode/BassEncode.h"
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "core/Paths.h"
#include "core/RealTimePriority.h"
#include "slots/CueSheet.h"
#include "slots/EncoderCommandLine.h"
#include "slots/FileStartCheck.h"
#include "slots/RecordingNames.h"
#include "slots/RecordingsDatabase.h"
#include "slots/RecordingsWriteQueue.h"
#include "slots/TimeSlots.h"

namespace velloran::slots {

namespace {

constexpr double kPullBlockSeconds = 2.0;
constexpr uint32_t kPullIntervalMs = 50;
constexpr int kEncoderPriority = -1000;
constexpr int32_t kMinSampleRate = 1000;
constexpr int32_t kMaxSampleRate = 384000;

}  // namespace

float SilenceThresholdToLinear(int32_t dBFS) {
  if (dBFS > -200) {
    return static_cast<float>(std::pow(10.0, dBFS / 20.0));
  }
  return 0.0f;
}

// ---------------------------------------------------------------------------------------------
// Create / Destroy / configuration

TSlotInfo::TSlotInfo(ConfigFile& iIniFile, bool iAlarmOnly, int iIndex,
                     const audio::DeviceCatalogue* iCatalogue)
    : fIniFile(iIniFile), fCatalogue(iCatalogue), fIndex(iIndex), fAlarmOnly(iAlarmOnly) {
  fSettings = ReadSlotSettings(fIniFile, fIndex, fAlarmOnly);
  fEffectiveSamplerate = fSettings.fSampleRate;
  SetSilenceThreshold(fSettings.fSilenceThreshold);
}

TSlotInfo::~TSlotInfo() {
  fDeleting = true;
  try {
    CloseCurrentRecording(false);
    StopRecording();
  } catch (const std::exception& e) {
    DoLogMessage(std::string("Error closing recording: ") + e.what());
  }
  CloseDatabaseWrites();
  if (fStreamingThread) {
    fStreamingThread->Destroy();
    fStreamingThread.reset();
  }
  if (fPullThread) {
    fPullThread->Destroy();
    fPullThread.reset();
  }
  try {
    FlushConfig();
  } catch (const std::exception& e) {
    DoLogMessage(e.what());
  }
  FreeWinampPlugin();
  if (fMixer != 0) {
    BASS_StreamFree(fMixer);
    fMixer = 0;
  }
  fPull.Reset();
}

void TSlotInfo::FlushConfig() {
  TSlotSettings copy;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    copy = fSettings;
  }
  copy.fSilenceThreshold = SilenceThreshold();
  WriteSlotSettings(fIniFile, fIndex, copy);
}

void TSlotInfo::ApplySettings(const TSlotSettings& settings) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  const bool enabled = fSettings.fEnabled;
  const TRecordChannels channels = fSettings.fRecordChannels;
  const std::string plugin = fSettings.fWinampPlugin;
  const std::string controls = fSettings.fWinampPluginControls;
  fSettings = settings;
  fSettings.fWinampPluginControls = settings.fWinampPlugin == plugin ? controls : std::string();
  fSettings.fEnabled = enabled;
  fSettings.fRecordChannels = channels;
  fSettings.fSilenceThreshold = SilenceThreshold();
  if (fAlarmOnly) {
    fSettings.fAudioFormat = sfNone;
  }
}

void TSlotInfo::SetEnabled(bool value) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (value != fSettings.fEnabled) {
    fSettings.fEnabled = value;
    CycleEncoder();
    if (fStreamingThread) {
      fStreamingThread->SignalEvent();  // the stream follows at once
    }
  }
}

void TSlotInfo::SetRecordChannels(TRecordChannels value) {
  // The streaming thread copies the settings under fCS.
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fSettings.fRecordChannels = value;
  UpdateDownmixFX();
}

void TSlotInfo::SetSilenceThreshold(int32_t value) {
  {
    std::lock_guard<std::mutex> lock(fLevelCS);
    fSilenceThreshold = value;
    fSilenceThresholdLinear.store(SilenceThresholdToLinear(value), std::memory_order_relaxed);
  }
  // The settings' copy is read under fCS (the streaming thread copies the settings); fLevelCS
  // is never held while fCS is taken.
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fSettings.fSilenceThreshold = value;
}

int32_t TSlotInfo::SilenceThreshold() const {
  std::lock_guard<std::mutex> lock(fLevelCS);
  return fSilenceThreshold;
}

float TSlotInfo::SilenceThresholdLinear() const {
  return fSilenceThresholdLinear.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------
// Locked readers

HENCODE TSlotInfo::Encoder() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fEncoder;
}
std::string TSlotInfo::CurrentFilename() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentFilename;
}
int64_t TSlotInfo::CurrentRecordingID() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fRecordingsWrites ? fRecordingsWrites->RowId(fCurrentRecordingID) : 0;
}
std::string TSlotInfo::ErrorMessage() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fErrorMessage;
}
std::string TSlotInfo::Name() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fName;
}
std::string TSlotInfo::StreamURL() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fStreamURL;
}
std::string TSlotInfo::Folder() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fFolder;
}
TRecordSource TSlotInfo::RecordSource() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fSettings.fRecordSource;
}
std::string TSlotInfo::CurrentStreamTitle() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentStreamTitle;
}
std::string TSlotInfo::CurrentDeviceID() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentDeviceID;
}
audio::TDeviceInfoWithClients* TSlotInfo::CurrentDeviceInfo() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentDeviceInfo;
}
uint64_t TSlotInfo::RecordStartTickCount() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fRecordStartTickCount;
}
uint64_t TSlotInfo::LastOverSilenceTickCount() const {
  return fLastOverSilenceTickCount.load(std::memory_order_relaxed);
}
uint64_t TSlotInfo::LastMetadataTickCount() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fLastMetadataTickCount;
}

float TSlotInfo::CurrentRecordingDuration() const {
  const int64_t bytes = StreamPosition() - fRecordStartPos;
  return static_cast<float>(
      BASS_ChannelBytes2Seconds(fMixer, static_cast<QWORD>(std::max<int64_t>(bytes, 0))));
}

int64_t TSlotInfo::GetCurrentSilenceDurationMilliseconds() const {
  return static_cast<int64_t>(TickCount64() -
                              fLastOverSilenceTickCount.load(std::memory_order_relaxed));
}

void TSlotInfo::HandleStreamTitle(const std::string& iTitle) {
  std::string failure;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    failure = ApplyStreamTitleLocked(iTitle);
  }
  // Logged outside fCS: the log hand-off may wait for the main thread, which may want fCS.
  if (!failure.empty()) {
    DoLogMessage(failure);
  }
}

void TSlotInfo::DoLogMessage(const std::string& iMessage) {
  if (OnLogMessage) {
    OnLogMessage(this, Name() + ": " + iMessage);
  }
}

// ---------------------------------------------------------------------------------------------
// Audio graph

void TSlotInfo::Initialize(bool iStartPullThread) {
  { fLastOverSilenceTickCount.store(TickCount64(), std::memory_order_relaxed); }
  fLastMetadataTickCount = TickCount64();
  if (fEffectiveSamplerate < kMinSampleRate || fEffectiveSamplerate > kMaxSampleRate) {
    // An unusable sample rate: the slot stays without audio graph and says why.
    std::lock_guard<std::recursive_mutex> lock(fCS);
    fErrorMessage = "Invalid sample rate " + std::to_string(fEffectiveSamplerate);
    DoLogMessage("Recording error: " + fErrorMessage);
  } else {
    fMixer = BASS_Mixer_StreamCreate(static_cast<DWORD>(fEffectiveSamplerate), 2,
                                     BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    if (fMixer == 0) {
      std::lock_guard<std::recursive_mutex> lock(fCS);
      fErrorMessage = "Mixer: BASS Error " + std::to_string(BASS_ErrorGetCode());
      DoLogMessage("Recording error: " + fErrorMessage);
    }
  }
  fDownmixFX = BASS_ChannelSetFX(fMixer, BASS_FX_BFX_MIX, 1);
  UpdateDownmixFX();
  BASS_ChannelSetDSP(fMixer, &TSlotInfo::LevelDSPProc, this, 0);
  BASS_ChannelSetDSP(fMixer, &TSlotInfo::CounterDSPProc, this, 0);
  BASS_FX_GetVersion();
  if (fSettings.fRecordDelay > 0) {
    const HFX delay = BASS_ChannelSetFX(fMixer, BASS_FX_BFX_ECHO3, 100);
    BASS_BFX_ECHO3 params{0.0f, 1.0f, static_cast<float>(fSettings.fRecordDelay), BASS_BFX_CHANALL};
    BASS_FXSetParameters(delay, &params);
  }
  ReloadWinampPlugin();

  fPull = audio::engine::MixerPull(fMixer);
  if (fPull.Valid()) {
    fPullBuffer.assign(static_cast<size_t>(fPull.BytesFor(kPullBlockSeconds)), 0);
  }
  fPullStartTick = TickCount64();
  if (iStartPullThread) {
    fPullThread = std::make_unique<TSimpleThread>(
        true, [this] { PullThreadProc(); }, "PullThread Slot " + std::to_string(fIndex));
    fPullThread->SetPriority(ThreadPriority::TimeCritical);
    fPullThread->Start();
  }
  fStreamingThread = std::make_unique<TSimpleThread>(
      true, [this] { StreamingThreadProc(); }, "StreamingThread Slot " + std::to_string(fIndex));
  fStreamingThread->Start();

  RepairDatabase();
}

void TSlotInfo::UpdateDownmixFX() {
  switch (fSettings.fRecordChannels) {
    case rcLeft:
      fDownmixChannels[0] = BASS_BFX_CHAN1;
      fDownmixChannels[1] = BASS_BFX_CHAN1;
      break;
    case rcRight:
      fDownmixChannels[0] = BASS_BFX_CHAN2;
      fDownmixChannels[1] = BASS_BFX_CHAN2;
      break;
    case rcStereo:
    default:
      fDownmixChannels[0] = BASS_BFX_CHAN1;
      fDownmixChannels[1] = BASS_BFX_CHAN2;
      break;
  }
  const BASS_BFX_MIX params{fDownmixChannels};
  BASS_FXSetParameters(fDownmixFX, &params);
}

void TSlotInfo::LevelDSPProc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  static_cast<TSlotInfo*>(user)->DoLevelDSP(buffer, length);
}

void TSlotInfo::CounterDSPProc(HDSP, DWORD, void*, DWORD length, void* user) {
  static_cast<TSlotInfo*>(user)->DoCounterDSP(length);
}

void TSlotInfo::DoLevelDSP(const void* buffer, DWORD length) {
  const size_t frames = length / 8;
  const auto* samples = static_cast<const float*>(buffer);
  float left = 0.0f;
  float right = 0.0f;
  for (size_t i = 0; i < frames; ++i) {
    left = std::max(left, std::fabs(samples[2 * i]));
    right = std::max(right, std::fabs(samples[2 * i + 1]));
  }
  fLevelLeft.store(left, std::memory_order_relaxed);
  fLevelRight.store(right, std::memory_order_relaxed);
  const float threshold = fSilenceThresholdLinear.load(std::memory_order_relaxed);
  if (left >= threshold || right >= threshold) {
    fLastOverSilenceTickCount.store(TickCount64(), std::memory_order_relaxed);
  }
}

void TSlotInfo::DoCounterDSP(DWORD length) {
  fStreamPosition.fetch_add(length, std::memory_order_acq_rel);
}

uint32_t TSlotInfo::PullStep() {
  if (!fPull.Valid() || fPullBuffer.empty()) {
    return 0;
  }
  const double elapsed = static_cast<double>(TickCount64() - fPullStartTick) / 1000.0;
  const uint64_t target = fPull.BytesFor(elapsed);
  const uint64_t pos = fPull.Position();
  if (pos >= target) {
    return 0;
  }
  const auto amount = static_cast<size_t>(std::min<uint64_t>(target - pos, fPullBuffer.size()));
  return static_cast<uint32_t>(fPull.Pull(fPullBuffer.data(), amount));
}

void TSlotInfo::PullThreadProc() {
  uint32_t priorityGeneration = RealTimePriorityGeneration() - 1;  // applied on the first pass
  while (!fPullThread->Terminated()) {
    if (const uint32_t now = RealTimePriorityGeneration(); now != priorityGeneration) {
      priorityGeneration = now;  // an audio server opened: go below its threads
      SetCurrentThreadPriority(ThreadPriority::TimeCritical);
    }
    PullStep();
    fPullThread->WaitForEvent(kPullIntervalMs);
  }
}

// ---------------------------------------------------------------------------------------------
// Input

void TSlotInfo::StartRecording() {
  std::unique_ptr<TSimpleThread> oldStreamThread;
  bool startStream = false;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    if (fMixer == 0) {
      return;  // no audio graph (see Initialize): nothing to connect to
    }
    switch (fSettings.fRecordSource) {
      case rsDisabled:
        oldStreamThread = StopInputLocked();
        break;
      case rsSoundcard: {
        audio::TDeviceInfoWithClients* device = nullptr;
        try {
          if (fSettings.fDevice.empty()) {
            throw Error("No device selected");
          }
          if (fSettings.fDevice == fCurrentDeviceID) {
            return;  // already connected
          }
          device = fCatalogue != nullptr ? fCatalogue->FindCapture(fSettings.fDevice) : nullptr;
          if (device == nullptr) {
            throw Error("Invalid device");
          }
          oldStreamThread = StopInputLocked();
          fChannel = device->AddClient(static_cast<uint32_t>(fEffectiveSamplerate),
                                       fSettings.fRecord16Bit, fSettings.fASIOWorkaround);
          if (fChannel == 0) {
            throw Error("AddClient: BASS Error " + std::to_string(BASS_ErrorGetCode()));
          }
          if (fSettings.fExtraSleep > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(fSettings.fExtraSleep));
          }
          if (!BASS_Mixer_StreamAddChannel(fMixer, fChannel, 0)) {
            const int code = BASS_ErrorGetCode();
            device->RemoveClient(fChannel);
            BASS_StreamFree(fChannel);
            fChannel = 0;
            throw Error("Mixer_StreamAddChannel: BASS Error " + std::to_string(code));
          }
          fCurrentStreamTitle.clear();
          fCurrentDeviceInfo = device;
          fCurrentDeviceID = fSettings.fDevice;
          fErrorMessage.clear();
          DoLogMessage("Recording from " + device->Name());
        } catch (const std::exception& e) {
          fErrorMessage = e.what();
          if (device != nullptr) {
            DoLogMessage("Error recording from \"" + device->Name() + "\": " + e.what());
            fInputLoss = {true, TickCount64(), device->Name()};  // retried while listed
          } else {
            DoLogMessage(std::string("Recording error: ") + e.what());
          }
        }
        break;
      }
      case rsStream:
        oldStreamThread = StopInputLocked();
        fCurrentStreamTitle.clear();
        fCurrentStreamURL = fSettings.fStreamURL;
        fErrorMessage.clear();
        startStream = true;
        break;
    }
  }
  // The previous stream thread ends before the new one starts, and never while fCS is held.
  oldStreamThread.reset();
  if (startStream) {
    StartStreamThread();
  }
  if (fStreamingThread) {
    fStreamingThread->SignalEvent();
  }
}

void TSlotInfo::StopRecording() {
  std::unique_ptr<TSimpleThread> streamThread;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    streamThread = StopInputLocked();
  }
  streamThread.reset();  // waits for the stream thread, which frees its stream
  if (fStreamingThread) {
    fStreamingThread->SignalEvent();
  }
}

std::unique_ptr<TSimpleThread> TSlotInfo::StopInputLocked() {
  if (fCurrentDeviceInfo != nullptr) {
    fCurrentDeviceInfo->RemoveClient(fChannel);
    BASS_StreamFree(fChannel);
    fChannel = 0;
    fCurrentDeviceID.clear();
    fCurrentDeviceInfo = nullptr;
  }
  fLevelLeft.store(0.0f, std::memory_order_relaxed);
  fLevelRight.store(0.0f, std::memory_order_relaxed);
  if (fStreamThread) {
    fStreamThread->Terminate();
  }
  return std::move(fStreamThread);
}

bool TSlotInfo::DeviceConnected() const {
  return fCurrentDeviceInfo != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Files

bool TSlotInfo::CheckRotation() {
  ReportWinampPlugin();
  ReportDatabaseWrites();
  if (WatchFaults()) {
    return true;  // a file that could not start, or was deleted, has been replaced
  }
  if (ReportEncoderState()) {
    return true;  // a new file replaced one whose encoder had ended
  }
  if (fSettings.fNoAutoRotate) {
    return false;
  }
  const int32_t length = fSettings.fTimeSlotLength;
  if (EffectiveTimeSlotLength(length) != length) {
    if (!fWarnedTimeSlotLength || *fWarnedTimeSlotLength != length) {
      fWarnedTimeSlotLength = length;
      DoLogMessage("Time slot length of " + std::to_string(length) +
                   " minutes is out of range; using " +
                   std::to_string(EffectiveTimeSlotLength(length)) + " minutes");
    }
  }
  if (fSettings.fTimeSlotAlign) {
    const TDateTime key = AlignedTimeSlotKey(NowLocal(), length, fSettings.fTimeSlotOffset);
    if (key != fLastTimeSlot) {
      CycleEncoder();
      fLastTimeSlot = key;
      return true;
    }
    return false;
  }
  // After a failed start the retry follows the back-off (WatchFaults), not every tick.
  if (!fFileStartFailure.active &&
      UnalignedRotationDue(TickCount64(), RecordStartTickCount(), length)) {
    CycleEncoder();
    return true;
  }
  return false;
}

void TSlotInfo::CloseCurrentRecording(bool keepEncoder) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (fEncoder != 0) {
    ReportDroppedAudioOfFile();
    const int64_t position = StreamPosition();
    // A file whose encoder ended early holds only what the encoder took.
    const auto ended = fEncoderReport.died ? audio::FindEncoder(fEncoder) : nullptr;
    if (!keepEncoder) {
      BASS_Encode_Stop(fEncoder);
      fEncoder = 0;
    }
    if (fCurrentRecordingID != 0) {
      double seconds = BASS_ChannelBytes2Seconds(
          fMixer, static_cast<QWORD>(std::max<int64_t>(position - fRecordStartPos, 0)));
      if (ended && ended->Format().sampleRate > 0) {
        const double taken = static_cast<double>(ended->WrittenBytes()) /
                             (2.0 * ended->Format().channels * ended->Format().sampleRate);
        seconds = std::min(seconds, taken);
      }
      fRecordingsWrites->FileFinished(fCurrentRecordingID, seconds);
    }
    fCueSheetData.clear();
    fCueSheetTrackCounter = 0;
  }
  fCurrentRecordingID = 0;
}

void TSlotInfo::CycleEncoder() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  const HENCODE old = fEncoder;
  const bool skip = !fSettings.fEnabled || fSettings.fStreamingOnly ||
                    fSettings.fAudioFormat == sfNone || fSettings.fRecordSource == rsDisabled ||
                    (fSettings.fRecordSource == rsSoundcard && !DeviceConnected());
  CloseCurrentRecording(!skip);
  if (fAlarmOnly) {
    fSettings.fAudioFormat = sfNone;
  }
  if (skip) {
    if (fEncoder != 0) {
      BASS_Encode_Stop(fEncoder);
      fEncoder = 0;
    }
    fCurrentFilename.clear();  // no file is being written now
    ClearFileStartFailure();
    return;
  }
  fEncoder = 0;  // old keeps writing until the new one is attached
  try {
    StartEncoderLocked();
  } catch (const std::exception& e) {
    if (fEncoder != 0) {
      BASS_Encode_Stop(fEncoder);
      fEncoder = 0;
    }
    NoteFileStartFailure(e.what());
    fCurrentFilename.clear();
    fCurrentRecordingID = 0;
  }
  if (old != 0) {
    BASS_Encode_Stop(old);
  }
}

void TSlotInfo::StartEncoderLocked() {
  const std::string folder = IncludeTrailingPathDelimiter(fSettings.fFolder);
  const std::string extension =
      RecordingFileExtension(fSettings.fAudioFormat, fSettings.fFileExtension);
  const RecordingNaming naming{fSettings.fCustomFilename, fSettings.fFlatFilenames,
                               fSettings.fFilenamePrefix};
  const std::string previous = fCurrentFilename;
  const std::string fullPath =
      UniqueRecordingPath(folder + NameRecording(naming, extension), [&](const std::string& p) {
        std::error_code ec;
        return p == previous || std::filesystem::exists(p, ec);
      });
  const std::string relativeName = fullPath.substr(folder.size());
  if (const std::string cause = PrepareRecordingTarget(fullPath); !cause.empty()) {
    throw Error(cause);
  }

  BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(kEncoderPriority));
  BASS_SetConfig(BASS_CONFIG_ENCODE_QUEUE,
                 static_cast<DWORD>(std::max(fSettings.fEncoderQueueLength, 0)));
  const EncoderSettings encoder{fSettings.fAudioFormat,    fEffectiveSamplerate,
                                fSettings.fBitrate,        fSettings.fMode,
                                fSettings.fEncoderOptions, fSettings.fEncoderFilename};
  const EncoderCommand command = BuildEncoderCommandLine(encoder, fullPath);
  fEncoder = BASS_Encode_Start(
      fMixer, command.commandLine.c_str(),
      command.flags | BASS_UNICODE | BASS_ENCODE_FP_16BIT | BASS_ENCODE_QUEUE, nullptr, nullptr);
  if (fEncoder == 0) {
    throw Error(DescribeEncoderStartFailure(
        command.commandLine, (command.flags & BASS_ENCODE_PCM) == 0, BASS_ErrorGetCode()));
  }
  fRecordStartTickCount = TickCount64();
  fRecordStartPos = StreamPosition();
  fEncoderReport = EncoderReport{};
  ClearFileStartFailure();
  DoLogMessage("Encoding to file " + fullPath);
  fErrorMessage.clear();
  fCurrentFilename = fullPath;
  RecordFileStart(relativeName);
  fCueSheetData.push_back(CueFileLine(fullPath));
}

bool TSlotInfo::ReportEncoderState() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (fEncoder == 0) {
    return false;
  }
  const auto encoder = audio::FindEncoder(fEncoder);
  if (!encoder) {
    return false;
  }
  const int error = encoder->OutputError();
  if (error != fEncoderReport.outputError) {
    fEncoderReport.outputError = error;
    DoLogMessage(error != 0 ? "Error writing " + fCurrentFilename + ": " + std::strerror(error)
                            : "Writing " + fCurrentFilename + " again");
  }
  // Dropped blocks are reported by WatchDroppedAudio, once per episode.
  const uint64_t now = TickCount64();
  if (!encoder->Active() && !fEncoderReport.died) {
    fEncoderReport.died = true;
    // What the program said last, on one line.
    std::string tail = encoder->StderrTail();
    tail.erase(tail.find_last_not_of(" \t\r\n") + 1);
    std::replace(tail.begin(), tail.end(), '\r', ' ');
    for (size_t at = tail.find('\n'); at != std::string::npos; at = tail.find('\n', at)) {
      tail.replace(at, 1, " / ");
    }
    DoLogMessage("The encoder stopped unexpectedly; this file ends here" +
                 (tail.empty() ? std::string() : ": " + tail));
    fErrorMessage = "The encoder stopped unexpectedly" + (tail.empty() ? "" : ": " + tail);
    // Deaths in a row (an encoder that lived a minute breaks the row) wait longer each time,
    // so a program that cannot run at all does not start a file on every tick.
    fEncoderDeathsInARow = now - fRecordStartTickCount >= kEncoderHealthyRun
                               ? 1
                               : std::min(fEncoderDeathsInARow + 1, kEncoderMaxBackoffSteps);
  }
  if (fEncoderReport.died && now - fRecordStartTickCount >= kEncoderRestartDelay
                                                                << (fEncoderDeathsInARow - 1)) {
    CycleEncoder();  // the next file starts now instead of at the next boundary
    return true;
  }
  return false;
}

std::shared_ptr<ISQLConnection> TSlotInfo::GetDatabaseConnection(int busyTimeoutMs) const {
  std::string file;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    file = ChooseDatabaseFile(fSettings.fDatabaseFile, fSettings.fDatabaseFolder, fSettings.fFolder,
                              fIndex);
  }
  return OpenRecordingsDatabase(file, busyTimeoutMs);
}

void TSlotInfo::RepairDatabase() {
  if (fAlarmOnly) {
    return;
  }
  try {
    std::string file;
    int64_t current = 0;
    {
      std::lock_guard<std::recursive_mutex> lock(fCS);
      file = ChooseDatabaseFile(fSettings.fDatabaseFile, fSettings.fDatabaseFolder,
                                fSettings.fFolder, fIndex);
      current = CurrentRecordingID();
    }
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
      return;  // nothing recorded yet
    }
    auto connection = OpenRecordingsDatabase(file);
    RepairUnfinishedRecordings(
        *connection, fSettings.fFolder, [this](const std::string& line) { DoLogMessage(line); },
        current);
  } catch (const std::exception& e) {
    DoLogMessage(std::string("Error updating database: ") + e.what());
  }
}

}  // namespace velloran::slots
