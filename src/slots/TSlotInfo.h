#pragma once
// TSlotInfo: one recording slot. It reads its section "Slot%d" at construction, builds its
// audio graph (mixer, channel mapping, level and byte-count DSPs, optional input delay) and its
// threads in Initialize, connects its input in StartRecording, writes a chain of files through
// CycleEncoder (driven by the main timer's CheckRotation) with a row per file in the slot's
// recordings database, and on destruction closes its file, records its duration, stops its
// threads and writes its section back.
//
// A recording never replaces an existing file: a taken name gets "-1", "-2", ... before the
// extension, and the database row names the file actually written. Consecutive files join
// without a gap: the next encoder is attached to the mixer before the previous one stops.
//
// Thread contract:
// - Construction, Initialize, StartRecording, StopRecording, CycleEncoder, CheckRotation,
//   CloseCurrentRecording, FlushConfig, the setters and destruction run on the main thread.
// - fCS (re-entrant) guards the recording state: input, encoder, current file and its row,
//   cue lines, start tick and position, Name/StreamURL/CurrentStreamTitle. Main-thread
//   operations take it; the web service's threads read the texts through the locked readers.
// - fLevelCS guards the silence threshold in dBFS (setter and reader). The linear threshold,
//   the last loud-block tick, the levels and the stream position are atomics any thread may read.
// - The pull thread (PullStep, DoLevelDSP, DoCounterDSP) takes no lock, looks up no handle (it
//   holds the mixer object resolved in Initialize), allocates nothing after its start and never
//   logs.
// - The streaming thread takes fCS only for its copy of the settings, the streaming status and
//   the initial title; it connects to the server without it (the process-wide cast lock held
//   around the login). UpdateOutgoingStreamTitle (main thread) takes fCS.
// - OnLogMessage is called from the thread that logs (main thread for every line of this
//   class).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/engine/MixerPull.h"
#include "core/ConfigFile.h"
#include "core/DateTime.h"
#include "core/SimpleThread.h"
#include "slots/DroppedAudioReport.h"
#include "slots/RecordingNames.h"
#include "slots/SlotTypes.h"
#include "slots/TSlotSettings.h"
#include "slots/sql/SimpleSQLInterface.h"
#include "slots/sql/TSQLConnection.h"

namespace velloran::audio {
class DeviceCatalogue;
class TDeviceInfoWithClients;
}  // namespace velloran::audio

namespace velloran::slots {

class RecordingsWriteQueue;

class TSlotInfo {
 public:
  using TLogMessageEvent = std::function<void(const void* sender, const std::string& message)>;

  // Create: reads the section; opens no device, starts no thread, creates no audio object.
  // catalogue may be null (then every device is invalid).
  TSlotInfo(ConfigFile& iIniFile, bool iAlarmOnly, int iIndex,
            const audio::DeviceCatalogue* iCatalogue);
  // Destroy: closes the current file (duration written), stops the input and the threads,
  // writes the section (a refused write is logged), frees the mixer.
  ~TSlotInfo();
  TSlotInfo(const TSlotInfo&) = delete;
  TSlotInfo& operator=(const TSlotInfo&) = delete;

  // Builds the audio graph and starts the threads, then repairs rows left unfinished by an
  // earlier run. A sample rate outside 1000 .. 384000 Hz builds no graph: the slot keeps the
  // error "Invalid sample rate %d" and records nothing. Tests pass iStartPullThread = false and
  // drive PullStep themselves.
  void Initialize(bool iStartPullThread = true);
  void StartRecording();
  void StopRecording();

  // The main timer's rotation check; true when CycleEncoder ran (the caller then switches the
  // clean-up timer on).
  bool CheckRotation();
  void CycleEncoder();
  void CloseCurrentRecording(bool keepEncoder);
  void FlushConfig();

  // One pass of the pull thread: reads what the clock allows (at most two seconds) from the
  // mixer and returns the bytes read. Call only from the pull thread, or from a test that did
  // not start it.
  uint32_t PullStep();

  // A new title of the incoming stream: kept as CurrentStreamTitle, stamped as the last
  // metadata tick and, with cue sheets on and a file open, appended to the cue lines, which are
  // then saved to CurrentFilename + ".cue" (a failed save is logged after fCS is released).
  // Any thread (takes fCS).
  void HandleStreamTitle(const std::string& iTitle);
  // Reads the open stream's metadata text (BASS_TAG_META), decodes it (see StreamTitleText.h)
  // and applies its StreamTitle as HandleStreamTitle does; text without a title changes nothing.
  // Called by the stream thread after a connection and by the stream's metadata sync.
  void UpdateIncomingStreamTitle();

  // ---- stream input ----
  // Stream status text (shown while no stream is open); under the process-wide stream-status
  // lock. (The stream thread logs each change of status once.)
  void SetStreamStatus(const std::string& iText);
  std::string StreamStatus() const;
  HSTREAM StreamChannel() const { return fStreamChannel.load(); }
  bool StreamDownloadEnded() const { return fStreamDownloadEnded.load(); }
  std::string CurrentStreamURL() const;
  // What a tile shows for a stream source: the title (or, without one, the URL) while a stream
  // is open, otherwise the status text.
  std::string StreamDisplayText() const;

  // ---- outgoing streaming ----
  // The title timer (main thread, every second): re-reads the title file when its modification
  // time changed and sends a changed first line to the connected stream (takes fCS). Nothing
  // when streaming is off or titles are forwarded from the incoming stream.
  void UpdateOutgoingStreamTitle();
  // State of the outgoing stream, its message and the tick it went online (-1 when not
  // online); any thread (under fCS).
  TStreamingStatus StreamingStatus() const;
  std::string StreamingMessage() const;
  int64_t StreamingActiveSince() const;
  std::string StreamingCurrentTitle() const;
  HENCODE StreamingEncoder() const { return fStreamingEncoder.load(); }

  void DoLogMessage(const std::string& iMessage);
  void UpdateDownmixFX();

  // A fresh connection to the slot's recordings database: the file is chosen under fCS, then
  // opened (folder and table created) outside it. Raises velloran::Error. Any thread.
  std::shared_ptr<ISQLConnection> GetDatabaseConnection(
      int busyTimeoutMs = kDefaultSQLBusyTimeoutMs) const;
  // Waits up to timeoutMs until the rows queued so far are in the database (main thread; tests).
  bool WaitForDatabaseWrites(uint32_t timeoutMs);

  // ---- retention clean-up (main thread; each takes fCS) ----
  // Only files that a row names, inside the slot folder, are deleted; never the file being
  // written, the database file or its journals (such rows are passed over).
  // Deletes the recordings that started more than CleanupDays days ago (the start times are
  // local, compared with the clock's UTC time); true when at least one expired row was found.
  // Raises velloran::Error for a failing database.
  bool CleanUpByAge();
  // While the slot folder's file system has less than CleanupSpace GiB available, deletes the
  // oldest recording that can be deleted (one per call); true when one was removed. A folder
  // whose free space cannot be told (network file system, relative path) is left alone.
  // Raises velloran::Error for a failing database.
  bool CleanupBySpace();
  // Deletes one recording: its file (logged "Deleted %s"), the folders this leaves empty up to
  // (not including) the slot folder, and its row. A missing file only loses its row, with a
  // warning. A file that cannot be deleted keeps its row ("Error deleting %s: Error code %d")
  // and the result is false.
  bool DeleteRecording(ISQLConnection& connection, int64_t id, const std::string& fullPath);

  // ---- setters with side effects ----
  void SetEnabled(bool value);
  void SetRecordChannels(TRecordChannels value);
  void SetSilenceThreshold(int32_t value);

  // ---- readers ----
  int Index() const { return fIndex; }
  bool AlarmOnly() const { return fAlarmOnly; }
  const TSlotSettings& Settings() const { return fSettings; }
  bool Enabled() const { return fSettings.fEnabled; }
  TRecordChannels RecordChannels() const { return fSettings.fRecordChannels; }
  int32_t SilenceThreshold() const;
  float SilenceThresholdLinear() const;
  float LevelLeft() const { return fLevelLeft.load(std::memory_order_relaxed); }
  float LevelRight() const { return fLevelRight.load(std::memory_order_relaxed); }
  HSTREAM Mixer() const { return fMixer; }
  HSTREAM Channel() const { return fChannel; }
  HENCODE Encoder() const;
  std::string CurrentFilename() const;
  int64_t CurrentRecordingID() const;
  std::string ErrorMessage() const;
  std::string Name() const;
  std::string StreamURL() const;
  // The folder and the source kind under fCS (the slot dialog replaces the settings), for
  // threads other than the main thread.
  std::string Folder() const;
  TRecordSource RecordSource() const;
  std::string CurrentStreamTitle() const;
  std::string CurrentDeviceID() const;
  audio::TDeviceInfoWithClients* CurrentDeviceInfo() const;
  uint64_t RecordStartTickCount() const;
  uint64_t LastOverSilenceTickCount() const;
  uint64_t LastMetadataTickCount() const;
  TDateTime LastTimeSlot() const { return fLastTimeSlot; }
  void SetLastTimeSlot(TDateTime value) { fLastTimeSlot = value; }
  int64_t StreamPosition() const { return fStreamPosition.load(std::memory_order_acquire); }
  // Seconds of mixer output since the current file started.
  float CurrentRecordingDuration() const;
  int64_t GetCurrentSilenceDurationMilliseconds() const;

  // Runs f with fCS held, so that the readers called inside it see one state of the slot (fCS
  // is re-entrant). Any thread; f must not wait for another thread.
  template <class F>
  void ReadLocked(F&& f) const {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    f();
  }

  // Displayed meter values (tile painting, main thread).
  float CurrentLevelLeft() const { return fCurrentLevelLeft; }
  float CurrentLevelRight() const { return fCurrentLevelRight; }
  void SetCurrentLevelLeft(float v) { fCurrentLevelLeft = v; }
  void SetCurrentLevelRight(float v) { fCurrentLevelRight = v; }
  bool SilenceDetected() const { return fSilenceDetected; }
  void SetSilenceDetected(bool v) { fSilenceDetected = v; }

  // Plain settings from the slot dialog (main thread). Name and StreamURL are replaced under
  // fCS; the setters with side effects are not applied here (use SetEnabled,
  // SetRecordChannels, SetSilenceThreshold). The chosen plug-in control values stay (use
  // SetWinampPluginControl) unless the plug-in path changes, which drops them.
  void ApplySettings(const TSlotSettings& settings);

  // ---- DSP plug-in (TSlotInfoWinamp.cpp; main thread) ----
  // Removes any loaded plug-in and loads the one of the settings (Initialize and the dialog's
  // "Reload" button): started on the mixer, the chosen control values applied, attached at -500
  // (before both encoders) or -1500 (stream only). Failed calls are logged
  // "<call>: BASS Error <code>".
  void ReloadWinampPlugin();
  HDSP WinampPluginHandle() const { return fWinampPluginHandle; }
  // Sets input control index (BASS_WADSP_Config order) of the loaded plug-in and keeps the value
  // in force in the settings; false when there is no plug-in or the value is refused.
  bool SetWinampPluginControl(uint32_t index, float value);

  TLogMessageEvent OnLogMessage;

 private:
  static void LevelDSPProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);
  static void CounterDSPProc(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);
  void DoLevelDSP(const void* buffer, DWORD length);
  void DoCounterDSP(DWORD length);
  void PullThreadProc();
  // The streaming thread: keeps the outgoing stream connected while the slot and its streaming
  // are on (see TSlotInfoStreaming.cpp).
  void StreamingThreadProc();
  // Starts the streaming encoder and connects it (raises velloran::Error); streaming thread.
  void ConnectStreaming(const TSlotSettings& iSettings, int32_t iSampleRate);
  void SetStreamingStatus(TStreamingStatus iStatus, const std::string& iMessage);
  // Under fCS: the current title-file title to the streaming encoder.
  void SendStreamingTitle();
  static void EncoderNotify(HENCODE handle, DWORD status, void* user);
  void StreamThreadProc(TSimpleThread& iThread);
  // Disconnects the input under fCS and hands back the stream thread, which the caller frees
  // after releasing fCS (it may be waiting for fCS in a title update).
  std::unique_ptr<TSimpleThread> StopInputLocked();
  void StartStreamThread();
  // Applies a title under fCS; returns the text of a failed cue-sheet save ("" when none).
  std::string ApplyStreamTitleLocked(const std::string& iTitle);
  static void StreamDownloadProc(const void* buffer, DWORD length, void* user);
  static void StreamEndSyncProc(HSYNC handle, DWORD channel, DWORD data, void* user);
  static void StreamMetaSyncProc(HSYNC handle, DWORD channel, DWORD data, void* user);
  bool DeviceConnected() const;
  void StartEncoderLocked();
  // The database rows of the files go through fRecordingsWrites (TSlotInfoDatabase.cpp): a
  // file's row is queued when it starts, its duration when it ends; the worker's reports are
  // logged by the rotation check, and the destructor waits kDatabaseDrainMs at most for what is
  // left.
  void RecordFileStart(const std::string& relativeName);
  void ReportDatabaseWrites();
  void CloseDatabaseWrites();
  static constexpr uint32_t kDatabaseDrainMs = 3000;
  void RepairDatabase();
  // The next file's name relative to the slot folder, for the local time now; a name that
  // would leave the slot folder is logged (once per naming setting) and the dated name is
  // used instead (TSlotInfoNames.cpp).
  std::string NameRecording(const RecordingNaming& naming, const std::string& extension);
  // Main timer: logs what happened to the current encoder since the last look (a write error
  // and its end, an unexpected end; dropped audio goes through fDroppedAudio). An
  // encoder that ended on its own is replaced by a new file (CycleEncoder) once
  // kEncoderRestartDelay has passed since its file started, doubled for every further end in a
  // row; returns true when it started one.
  bool ReportEncoderState();
  // Clean-up guard (under fCS): false for the file being written, the database files and any
  // path outside the slot folder (logged).
  bool MayDeleteRecording(const std::string& fullPath);
  void FreeWinampPlugin();
  void ApplyWinampPluginControls();
  // Main timer: logs once per loaded plug-in that its output had to be replaced by silence.
  void ReportWinampPlugin();
  void ReportWinampCall(bool ok, const char* call);

  mutable std::recursive_mutex fCS;
  mutable std::mutex fLevelCS;
  ConfigFile& fIniFile;
  const audio::DeviceCatalogue* fCatalogue;
  int fIndex;
  bool fAlarmOnly;
  std::atomic<bool> fDeleting{false};
  TSlotSettings fSettings;
  int32_t fEffectiveSamplerate = 0;

  TDateTime fLastTimeSlot = 0;
  uint64_t fRecordStartTickCount = 0;
  std::atomic<int64_t> fRecordStartPos{0};  // read by CurrentRecordingDuration on any thread
  std::atomic<float> fLevelLeft{0.0f};
  std::atomic<float> fLevelRight{0.0f};
  float fCurrentLevelLeft = 0.0f;
  float fCurrentLevelRight = 0.0f;
  audio::TDeviceInfoWithClients* fCurrentDeviceInfo = nullptr;
  std::string fCurrentDeviceID;
  std::string fCurrentStreamURL;
  std::string fCurrentStreamTitle;
  HSTREAM fMixer = 0;
  HSTREAM fChannel = 0;
  HENCODE fEncoder = 0;
  HFX fDownmixFX = 0;
  int fDownmixChannels[2] = {BASS_BFX_CHAN1, BASS_BFX_CHAN2};
  std::string fCurrentFilename;
  int64_t fCurrentRecordingID = 0;  // the write queue's token of the current file's row (0: none)
  std::unique_ptr<RecordingsWriteQueue> fRecordingsWrites;  // made by the first file
  std::string fErrorMessage;
  std::atomic<int64_t> fStreamPosition{0};
  std::unique_ptr<TSimpleThread> fPullThread;
  std::unique_ptr<TSimpleThread> fStreamingThread;
  // Outgoing streaming: the encoder handle is written by the streaming thread only; status,
  // message, online tick and the title-file state are guarded by fCS.
  std::atomic<HENCODE> fStreamingEncoder{0};
  TStreamingStatus fStreamingStatus = ssDisabled;
  std::string fStreamingMessage;
  int64_t fStreamingActiveSince = -1;
  std::string fStreamingCurrentTitle;
  // Modification time of the title file when it was last read (file clock ticks; 0 = not yet).
  int64_t fStreamingCurrentTitleFileAge = 0;
  // Stream input: the thread exists while a stream source records; the channel is written by
  // it; the ended flag by the library's callbacks; the status text under StreamStatusLock().
  std::unique_ptr<TSimpleThread> fStreamThread;
  std::atomic<HSTREAM> fStreamChannel{0};
  std::atomic<bool> fStreamDownloadEnded{false};
  std::string fStreamStatus;
  int32_t fSilenceThreshold = -30;
  std::atomic<float> fSilenceThresholdLinear{0.0f};
  std::atomic<uint64_t> fLastOverSilenceTickCount{0};
  uint64_t fLastMetadataTickCount = 0;
  bool fSilenceDetected = false;
  std::vector<std::string> fCueSheetData;
  int fCueSheetTrackCounter = 0;
  std::optional<int32_t> fWarnedTimeSlotLength;  // the out-of-range length last logged
  std::string fRefusedNaming;                    // the naming settings last refused and logged
  // What has been logged about the current encoder (reset with every new file).
  struct EncoderReport {
    int outputError = 0;
    uint64_t droppedBlocks = 0;
    uint64_t dropTick = 0;
    bool died = false;
  };
  static constexpr uint64_t kEncoderReportInterval = 10000;  // ms between dropped-audio lines
  static constexpr uint64_t kEncoderRestartDelay = 10000;    // ms, first restart after an end
  static constexpr int kEncoderMaxBackoffSteps = 7;          // up to 640 s between restarts
  static constexpr uint64_t kEncoderHealthyRun = 60000;      // ms that end a row of deaths
  EncoderReport fEncoderReport;
  int fEncoderDeathsInARow = 0;

  HDSP fWinampPluginHandle = 0;
  HDSP fWinampPluginDSP = 0;
  bool fWinampInvalidReported = false;

  // ---- faults the main timer watches for (TSlotInfoWatch.cpp; main thread, under fCS) ----
  // Runs first in CheckRotation: reports a lost input device and re-attaches it, retries a
  // file that could not start, replaces a current file that was deleted from disk. True when
  // it ran CycleEncoder.
  bool WatchFaults();
  // A file start failed for cause: the slot's error; logged once per cause; retried with the
  // encoder back-off (kEncoderRestartDelay, doubled per failure in a row).
  void NoteFileStartFailure(const std::string& cause);
  // A file started (or none is wanted): the failure episode ends.
  void ClearFileStartFailure();
  // The current file's path is gone (or now names another file): true once it has been seen.
  bool CurrentFileDeleted();
  struct FileStartFailure {
    bool active = false;
    std::string cause;  // the cause last logged
    uint64_t tick = 0;  // when the last attempt failed
    int inARow = 0;
  };
  FileStartFailure fFileStartFailure;
  struct FileIdentity {
    bool seen = false;
    uint64_t device = 0;
    uint64_t inode = 0;
  };
  FileIdentity fCurrentFileIdentity;  // of fCurrentFilename, once it exists on disk
  // The input device stopped delivering (or could not be opened although listed): reported
  // once, then re-attached quietly every kInputRetryInterval until it works.
  bool WatchInput();
  bool TryReattachInput();
  struct InputLoss {
    bool active = false;
    uint64_t lastTry = 0;
    std::string device;  // display name
  };
  InputLoss fInputLoss;
  static constexpr uint64_t kInputRetryInterval = 1000;  // ms
  // Input overflows, underruns and encoder-queue drops: read on every check, logged once per
  // episode; the current file's summary is logged when it closes (ReportDroppedAudioOfFile).
  void WatchDroppedAudio();
  void ReportDroppedAudioOfFile();
  DroppedAudioReport fDroppedAudio;

 public:
  // What the current file has lost so far (input overflow bytes, input underruns, encoder
  // blocks), for a continuity report. Main thread.
  DroppedAudioReport::Readings DroppedAudioInCurrentFile() const;

 private:
  // Pull thread state: set up before the thread starts, then used only by it.
  std::vector<char> fPullBuffer;
  uint64_t fPullStartTick = 0;
  audio::engine::MixerPull fPull;  // the mixer behind fMixer, kept for the pull thread
};

// 10^(dBFS / 20) above -200 dBFS, otherwise 0 (never silent).
float SilenceThresholdToLinear(int32_t dBFS);

}  // namespace velloran::slots
