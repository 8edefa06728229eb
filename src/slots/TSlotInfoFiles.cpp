// File rotation and the file encoder: starting, cycling and closing recordings.
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

constexpr int kEncoderPriority = -1000;

}  // namespace

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

}  // namespace velloran::slots
