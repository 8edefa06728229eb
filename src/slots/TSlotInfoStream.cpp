// Stream input of a slot: the stream thread that opens the URL and reopens it whenever it ends,
// the callbacks the audio library calls on its own threads, and the incoming titles.
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "slots/CueSheet.h"
#include "slots/StreamLocks.h"
#include "slots/StreamTitleText.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

namespace {
constexpr DWORD kStreamFlags =
    BASS_UNICODE | BASS_STREAM_DECODE | BASS_STREAM_RESTRATE | BASS_SAMPLE_FLOAT;
constexpr uint32_t kStreamRetryMs = 1000;
}  // namespace

void TSlotInfo::StartStreamThread() {
  // Shown from the start, not only once the thread runs (the status lock is never taken under
  // fCS).
  SetStreamStatus("Connecting...");
  std::lock_guard<std::recursive_mutex> lock(fCS);
  // The procedure needs its own thread object, which StopRecording may move out of the field
  // while it runs.
  auto self = std::make_shared<TSimpleThread*>(nullptr);
  fStreamThread = std::make_unique<TSimpleThread>(
      true, [this, self] { StreamThreadProc(**self); },
      "StreamThread Slot " + std::to_string(fIndex));
  *self = fStreamThread.get();
  fStreamThread->Start();
}

void TSlotInfo::StreamThreadProc(TSimpleThread& iThread) {
  const std::string url = CurrentStreamURL();
  std::string logged;  // the status last logged, so a failing retry is logged once
  auto report = [&](const std::string& text) {
    SetStreamStatus(text);
    if (text != logged) {
      logged = text;
      DoLogMessage("Stream " + url + ": " + text);
    }
  };
  report("Connecting...");
  while (true) {
    if (iThread.Terminated()) {
      if (const HSTREAM channel = fStreamChannel.exchange(0); channel != 0) {
        BASS_StreamFree(channel);
      }
      return;
    }
    if (fStreamDownloadEnded.load()) {
      if (const HSTREAM channel = fStreamChannel.exchange(0); channel != 0) {
        BASS_StreamFree(channel);
      }
      report("Reconnecting...");
    }
    if (fStreamChannel.load() == 0) {
      fStreamDownloadEnded.store(false);
      BASS_SetDevice(0);
      HSTREAM channel = 0;
      int error = BASS_OK;
      {
        std::lock_guard<std::mutex> connect(StreamConnectLock());
        channel = BASS_StreamCreateURL(url.c_str(), 0, kStreamFlags, &TSlotInfo::StreamDownloadProc,
                                       this);
        error = BASS_ErrorGetCode();
      }
      if (fDeleting.load()) {
        if (channel != 0) {
          BASS_StreamFree(channel);
        }
        return;
      }
      if (channel != 0) {
        fStreamChannel.store(channel);
        BASS_ChannelSetSync(channel, BASS_SYNC_META, 0, &TSlotInfo::StreamMetaSyncProc, this);
        BASS_ChannelSetSync(channel, BASS_SYNC_END, 0, &TSlotInfo::StreamEndSyncProc, this);
        if (!BASS_Mixer_StreamAddChannel(fMixer, channel, 0)) {
          DoLogMessage("Mixer_StreamAddChannel: BASS Error " + std::to_string(BASS_ErrorGetCode()));
        }
        UpdateIncomingStreamTitle();
        DoLogMessage("Stream " + url + ": connected");
        logged.clear();
      } else {
        report(BassErrorText(error));
      }
    }
    iThread.WaitForEvent(kStreamRetryMs);
  }
}

void TSlotInfo::StreamDownloadProc(const void* buffer, DWORD /*length*/, void* user) {
  if (buffer == nullptr) {
    static_cast<TSlotInfo*>(user)->fStreamDownloadEnded.store(true);
  }
}

void TSlotInfo::StreamEndSyncProc(HSYNC, DWORD, DWORD, void* user) {
  static_cast<TSlotInfo*>(user)->fStreamDownloadEnded.store(true);
}

void TSlotInfo::StreamMetaSyncProc(HSYNC, DWORD, DWORD, void* user) {
  static_cast<TSlotInfo*>(user)->UpdateIncomingStreamTitle();
}

void TSlotInfo::UpdateIncomingStreamTitle() {
  std::string failure;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    const char* tags = BASS_ChannelGetTags(fStreamChannel.load(), BASS_TAG_META);
    if (tags == nullptr || *tags == '\0') {
      return;
    }
    const auto title = ExtractStreamTitle(DecodeMetadataText(tags));
    if (!title) {
      return;
    }
    failure = ApplyStreamTitleLocked(*title);
  }
  if (!failure.empty()) {
    DoLogMessage(failure);
  }
}

std::string TSlotInfo::ApplyStreamTitleLocked(const std::string& iTitle) {
  const uint64_t now = TickCount64();
  fCurrentStreamTitle = iTitle;
  fLastMetadataTickCount = now;
  if (fSettings.fStreamingForwardMetadata) {
    if (const HENCODE encoder = fStreamingEncoder.load(); encoder != 0) {
      BASS_Encode_CastSetTitle(encoder, iTitle.c_str(), "");  // only queues it for the sender
    }
  }
  if (!fSettings.fCueSheet || fCurrentFilename.empty()) {
    return {};
  }
  ++fCueSheetTrackCounter;
  fCueSheetData.push_back(CueTrackLine(fCueSheetTrackCounter));
  fCueSheetData.push_back(CueTitleLine(iTitle));
  fCueSheetData.push_back(
      CueIndexLine(static_cast<int64_t>(now) - static_cast<int64_t>(fRecordStartTickCount)));
  try {
    WriteCueSheet(fCurrentFilename + ".cue", fCueSheetData);
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

void TSlotInfo::SetStreamStatus(const std::string& iText) {
  std::lock_guard<std::mutex> lock(StreamStatusLock());
  fStreamStatus = iText;
}

std::string TSlotInfo::StreamStatus() const {
  std::lock_guard<std::mutex> lock(StreamStatusLock());
  return fStreamStatus;
}

std::string TSlotInfo::CurrentStreamURL() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fCurrentStreamURL;
}

std::string TSlotInfo::StreamDisplayText() const {
  if (StreamChannel() != 0) {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    return fCurrentStreamTitle.empty() ? fCurrentStreamURL : fCurrentStreamTitle;
  }
  return StreamStatus();
}

}  // namespace velloran::slots
