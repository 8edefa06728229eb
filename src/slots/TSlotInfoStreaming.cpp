// Outgoing streaming of a slot: the streaming thread that keeps the stream to a Shoutcast or
// Icecast server (or the built-in stream server) up, its status, the encoder notifications and
// the titles taken from the title file.
#include <filesystem>
#include <optional>
#include <thread>

#include "audio/bass.h"
#include "audio/encode/BassEncode.h"
#include "audio/encode/Caster.h"
#include "core/BassErrorText.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "slots/EncoderCommandLine.h"
#include "slots/StreamLocks.h"
#include "slots/TSlotInfo.h"
#include "slots/TitleFile.h"

namespace velloran::slots {

namespace {

constexpr int kStreamingEncoderPriority = -2000;
constexpr DWORD kStreamingEncoderFlags = BASS_ENCODE_NOHEAD | BASS_ENCODE_FP_16BIT |
                                         BASS_ENCODE_QUEUE | BASS_ENCODE_CAST_NOLIMIT |
                                         BASS_ENCODE_AUTOFREE | BASS_UNICODE;
static_assert(kStreamingEncoderFlags == 0x80041205u);
constexpr DWORD kServerBuffer = 40000;
constexpr DWORD kServerBurst = 4000;
constexpr uint32_t kRetryAfterErrorMs = 5000;
constexpr uint32_t kPassMs = 1000;
constexpr uint64_t kDropReportIntervalMs = 10000;
constexpr auto kTitleFileSettle = std::chrono::milliseconds(100);

// The server's answer to a title it would not take, once per cast.
std::optional<std::string> StreamingTitleRefusal(HENCODE handle) {
  const auto encoder = audio::FindEncoder(handle);
  const auto caster = encoder ? encoder->FindOutlet<audio::Caster>() : nullptr;
  return caster ? caster->TakeTitleRefusal() : std::nullopt;
}

// Bytes of the stream lost so far: PCM the encoder's queue could not take and encoded data the
// server connection could not take.
uint64_t StreamingDrops(HENCODE handle) {
  const auto encoder = audio::FindEncoder(handle);
  if (!encoder) {
    return 0;
  }
  const auto caster = encoder->FindOutlet<audio::Caster>();
  return encoder->DroppedBytes() + (caster ? caster->DroppedBytes() : 0);
}

}  // namespace

void TSlotInfo::StreamingThreadProc() {
  fStreamingEncoder = 0;
  uint64_t dropsReported = 0;
  uint64_t dropReportTick = 0;
  while (!fStreamingThread->Terminated()) {
    TSlotSettings settings;
    int32_t sampleRate = 0;
    bool active = false;
    {
      std::lock_guard<std::recursive_mutex> lock(fCS);
      settings = fSettings;
      sampleRate = fEffectiveSamplerate;
      active = fSettings.fEnabled && fSettings.fStreamingEnabled && fMixer != 0;
    }
    if (!active) {
      if (const HENCODE encoder = fStreamingEncoder.load(); encoder != 0) {
        BASS_Encode_Stop(encoder);
        DoLogMessage("Encoder disconnected");
        fStreamingEncoder = 0;
      }
      SetStreamingStatus(ssDisabled, "");
    } else {
      if (const HENCODE encoder = fStreamingEncoder.load();
          encoder != 0 && BASS_Encode_IsActive(encoder) != BASS_ACTIVE_PLAYING) {
        BASS_Encode_Stop(encoder);
        fStreamingEncoder = 0;
        DoLogMessage("Encoder lost connection");
      }
      if (const HENCODE encoder = fStreamingEncoder.load(); encoder != 0) {
        if (const auto refusal = StreamingTitleRefusal(encoder)) {
          DoLogMessage("Stream title not accepted by the server: " + *refusal);
        }
        // Audio lost to a slow encoder or server is logged, at most every ten seconds.
        const uint64_t drops = StreamingDrops(encoder);
        const uint64_t now = TickCount64();
        if (drops > dropsReported && now - dropReportTick >= kDropReportIntervalMs) {
          DoLogMessage("Stream: " + std::to_string(drops - dropsReported) +
                       " bytes of audio dropped (the encoder or the server does not keep up)");
          dropsReported = drops;
          dropReportTick = now;
        }
      }
      if (fStreamingEncoder.load() == 0) {
        dropsReported = 0;
        SetStreamingStatus(ssConnecting, settings.fStreamingHost);
        try {
          ConnectStreaming(settings, sampleRate);
        } catch (const std::exception& e) {
          if (const HENCODE encoder = fStreamingEncoder.exchange(0); encoder != 0) {
            BASS_Encode_Stop(encoder);
          }
          SetStreamingStatus(ssError, e.what());
          DoLogMessage(std::string("Encoder connection error: ") + e.what());
          fStreamingThread->WaitForEvent(kRetryAfterErrorMs);
          continue;
        }
      }
    }
    fStreamingThread->WaitForEvent(kPassMs);
  }
  // The slot is going away: the stream ends with it.
  if (const HENCODE encoder = fStreamingEncoder.exchange(0); encoder != 0) {
    BASS_Encode_Stop(encoder);
  }
}

void TSlotInfo::ConnectStreaming(const TSlotSettings& s, int32_t iSampleRate) {
  const EncoderSettings encoderSettings{s.fAudioFormat, iSampleRate,       s.fBitrate,
                                        s.fMode,        s.fEncoderOptions, s.fEncoderFilename};
  const EncoderCommand command = BuildEncoderCommandLine(encoderSettings, "-");
  if ((command.flags & BASS_ENCODE_PCM) != 0) {
    // The WAV writer would make a file named "-": a WAV stream has no program to send it.
    throw Error(BassErrorText(BASS_ERROR_NOTAVAIL));
  }
  BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(kStreamingEncoderPriority));
  const HENCODE encoder =
      BASS_Encode_Start(fMixer, command.commandLine.c_str(), command.flags | kStreamingEncoderFlags,
                        nullptr, nullptr);
  if (encoder == 0) {
    throw Error(BassErrorText(BASS_ErrorGetCode()));
  }
  fStreamingEncoder = encoder;
  BASS_Encode_SetNotify(encoder, &TSlotInfo::EncoderNotify, this);

  const std::string headers = "icy-aim:" + s.fStreamingAIM + "\r\n" + "icy-irc:" + s.fStreamingIRC +
                              "\r\n" + "icy-icq:" + s.fStreamingICQ + "\r\n";
  std::string contentType = s.fStreamingMimeType;
  if (contentType.empty()) {
    if (s.fAudioFormat == sfMP3) {
      contentType = "audio/mpeg";
    } else if (s.fAudioFormat == sfOggVorbis) {
      contentType = "audio/ogg";
    }
  }
  std::string address;
  if (s.fStreamingServerMode) {
    address = s.fStreamingHost + ":" + std::to_string(s.fStreamingPort);
    if (BASS_Encode_ServerInit(encoder, address.c_str(), kServerBuffer, kServerBurst,
                               BASS_ENCODE_SERVER_META, nullptr, nullptr) == 0) {
      throw Error(BassErrorText(BASS_ErrorGetCode()));
    }
  } else {
    address = s.fStreamingHost + ":" + std::to_string(s.fStreamingPort);
    if (!s.fStreamingMountPoint.empty()) {
      address += (s.fStreamingMountPoint[0] == '/' ? "" : "/") + s.fStreamingMountPoint;
    } else if (!s.fStreamingStreamID.empty()) {
      address += "," + s.fStreamingStreamID;
    }
    if (s.fStreamingConnectDelay > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(s.fStreamingConnectDelay));
    }
    BOOL ok = FALSE;
    int error = BASS_OK;
    std::string refusal;
    {
      std::lock_guard<std::mutex> cast(StreamCastLock());
      ok = BASS_Encode_CastInit(
          encoder, address.c_str(), s.fStreamingPassword.c_str(), contentType.c_str(),
          s.fStreamingTitle.c_str(), s.fStreamingURL.c_str(), s.fStreamingGenre.c_str(),
          s.fStreamingDescription.c_str(), headers.c_str(), static_cast<DWORD>(s.fBitrate),
          s.fStreamingPublic ? BASS_ENCODE_CAST_PUBLIC : 0);
      error = BASS_ErrorGetCode();
      refusal = audio::LastCastRefusal();
    }
    if (!ok) {
      // A full server or a mount in use is not a wrong password: the engineer gets the
      // server's own answer.
      throw Error(refusal.empty() ? BassErrorText(error)
                                  : "the server refused the stream: " + refusal + " (" +
                                        BassErrorText(error) + ")");
    }
  }
  DoLogMessage("Encoder connected to " + address);
  SetStreamingStatus(ssConnected, address);
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (s.fStreamingForwardMetadata) {
    BASS_Encode_CastSetTitle(encoder, fCurrentStreamTitle.c_str(), "");
  } else {
    SendStreamingTitle();
  }
}

void TSlotInfo::SetStreamingStatus(TStreamingStatus iStatus, const std::string& iMessage) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (iStatus != ssConnected) {
    fStreamingActiveSince = -1;
  } else if (fStreamingStatus != ssConnected) {
    fStreamingActiveSince = static_cast<int64_t>(TickCount64());
  }
  fStreamingStatus = iStatus;
  fStreamingMessage = iMessage;
}

void TSlotInfo::EncoderNotify(HENCODE, DWORD, void* user) {
  // Whatever happened (connection lost, encoder ended), the streaming thread looks at once.
  auto* slot = static_cast<TSlotInfo*>(user);
  if (slot->fStreamingThread) {
    slot->fStreamingThread->SignalEvent();
  }
}

void TSlotInfo::SendStreamingTitle() {
  BASS_Encode_CastSetTitle(fStreamingEncoder.load(), fStreamingCurrentTitle.c_str(), nullptr);
}

void TSlotInfo::UpdateOutgoingStreamTitle() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (!fSettings.fStreamingEnabled || fSettings.fStreamingForwardMetadata) {
    return;
  }
  const std::string& path = fSettings.fStreamingCurrentTitleFilename;
  if (path.empty()) {
    return;
  }
  std::error_code ec;
  const auto before = std::filesystem::last_write_time(path, ec);
  if (ec) {
    return;  // a missing file changes nothing
  }
  const int64_t age = before.time_since_epoch().count();
  if (age == fStreamingCurrentTitleFileAge) {
    return;
  }
  // A file changed a moment ago may still be being written (truncated, then filled): it is
  // read at a later poll, once its writer is done, so no half-written title goes out.
  const auto sinceWritten = std::filesystem::file_time_type::clock::now() - before;
  if (sinceWritten >= std::filesystem::file_time_type::duration::zero() &&
      sinceWritten < kTitleFileSettle) {
    return;
  }
  const std::string line = ReadTitleFile(path);
  // A file rewritten while it was read is read again at the next poll.
  const auto after = std::filesystem::last_write_time(path, ec);
  if (ec || after != before) {
    return;
  }
  fStreamingCurrentTitleFileAge = age;
  if (line != fStreamingCurrentTitle) {
    fStreamingCurrentTitle = line;
    if (fStreamingStatus == ssConnected) {
      SendStreamingTitle();
    }
  }
}

TStreamingStatus TSlotInfo::StreamingStatus() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fStreamingStatus;
}

std::string TSlotInfo::StreamingMessage() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fStreamingMessage;
}

int64_t TSlotInfo::StreamingActiveSince() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fStreamingActiveSince;
}

std::string TSlotInfo::StreamingCurrentTitle() const {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  return fStreamingCurrentTitle;
}

}  // namespace velloran::slots
