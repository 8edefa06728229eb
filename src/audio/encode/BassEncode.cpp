// The encoding functions of the audio facade: encoders as DSPs on a channel.
//
// A registry (handle -> channel, DSP, auto-free) under one mutex says which encoders exist;
// the Encoder objects themselves live in the HandleTable. Stopping takes an encoder out of
// both first, so exactly one caller stops it; the DSP is removed before the encoder stops
// (the engine guarantees the DSP does not run once BASS_ChannelRemoveDSP returns). The
// auto-free watch stops an encoder whose channel is gone before taking it out (Encoder::Stop
// is idempotent), so its handle outlives the unfinished file.
#include "audio/encode/BassEncode.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "audio/encode/EncoderService.h"

using velloran::audio::Encoder;
using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;

namespace {

constexpr DWORD kDefaultQueueMs = 10000;
constexpr DWORD kFpMask = 0xE;  // BASS_ENCODE_FP_8BIT .. _32BIT
constexpr auto kAutoFreeInterval = std::chrono::milliseconds(500);

struct Attached {
  DWORD channel = 0;
  HDSP dsp = 0;
  bool autoFree = false;
};

// Never destroyed: the service thread may still look at it while the process exits.
struct Registry {
  std::mutex mutex;
  std::unordered_map<HENCODE, Attached> attached;
  bool autoFreeWatch = false;
};
Registry& TheRegistry() {
  static Registry* registry = new Registry();
  return *registry;
}
std::atomic<int64_t> gStopTimeoutMs{10000};

void EncoderDsp(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  static_cast<Encoder*>(user)->Intake(static_cast<const float*>(buffer), length / sizeof(float));
}

struct Taken {
  HENCODE handle;
  Attached attached;
  std::shared_ptr<Encoder> encoder;
};

// Under TheRegistry().mutex: takes the encoder out of the registry and the handle table.
Taken TakeLocked(HENCODE handle) {
  Taken taken{handle, TheRegistry().attached.at(handle), nullptr};
  TheRegistry().attached.erase(handle);
  taken.encoder = std::dynamic_pointer_cast<Encoder>(HandleTable::Instance().Remove(handle));
  return taken;
}

void StopTaken(const Taken& taken) {
  BASS_ChannelRemoveDSP(taken.attached.channel, taken.attached.dsp);  // fails if channel gone
  if (taken.encoder) {
    taken.encoder->Stop();
  }
}

// Service thread: stops the auto-free encoders whose channel has been freed.
void CheckAutoFree() {
  std::vector<std::pair<HENCODE, DWORD>> watched;
  {
    std::lock_guard lock(TheRegistry().mutex);
    for (const auto& [handle, attached] : TheRegistry().attached) {
      if (attached.autoFree) {
        watched.emplace_back(handle, attached.channel);
      }
    }
  }
  for (const auto& [handle, channel] : watched) {
    BASS_CHANNELINFO info{};
    if (BASS_ChannelGetInfo(channel, &info)) {
      continue;
    }
    // The file is finished before the handle goes, so a vanished handle means a finished file.
    if (const auto encoder = velloran::audio::FindEncoder(handle)) {
      encoder->Stop();
    }
    Taken taken{};
    {
      std::lock_guard lock(TheRegistry().mutex);
      if (TheRegistry().attached.count(handle) == 0) {
        continue;  // stopped meanwhile
      }
      taken = TakeLocked(handle);
    }
    StopTaken(taken);
  }
}

std::vector<std::shared_ptr<Encoder>> EncodersOf(DWORD handle, bool* known) {
  std::vector<std::shared_ptr<Encoder>> out;
  std::lock_guard lock(TheRegistry().mutex);
  *known = false;
  if (TheRegistry().attached.count(handle) != 0) {
    *known = true;
    if (auto encoder = HandleTable::Instance().FindAs<Encoder>(handle)) {
      out.push_back(std::move(encoder));
    }
    return out;
  }
  for (const auto& [h, attached] : TheRegistry().attached) {
    if (attached.channel == handle) {
      *known = true;
      if (auto encoder = HandleTable::Instance().FindAs<Encoder>(h)) {
        out.push_back(std::move(encoder));
      }
    }
  }
  return out;
}

}  // namespace

namespace velloran::audio {

std::shared_ptr<Encoder> FindEncoder(HENCODE handle) {
  std::lock_guard lock(TheRegistry().mutex);
  if (TheRegistry().attached.count(handle) == 0) {
    return nullptr;
  }
  return HandleTable::Instance().FindAs<Encoder>(handle);
}

void SetEncoderStopTimeout(std::chrono::milliseconds timeout) {
  gStopTimeoutMs.store(timeout.count());
}

}  // namespace velloran::audio

extern "C" {

HENCODE BASS_Encode_Start(DWORD handle, const char* cmdline, DWORD flags, ENCODEPROC* proc,
                          void* user) {
  if (cmdline == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, HENCODE{0});
  }
  const DWORD fp = flags & kFpMask;
  if ((fp != 0 && fp != BASS_ENCODE_FP_16BIT) ||
      (flags & (BASS_ENCODE_BIGEND | BASS_ENCODE_PAUSE)) != 0) {
    return Fail(BASS_ERROR_ILLPARAM, HENCODE{0});  // only 16-bit little-endian, running
  }
  BASS_CHANNELINFO info{};
  if (!BASS_ChannelGetInfo(handle, &info)) {
    return Fail(BASS_ERROR_HANDLE, HENCODE{0});
  }
  const int priority = static_cast<int>(BASS_GetConfig(BASS_CONFIG_ENCODE_PRIORITY));
  DWORD queueMs = BASS_GetConfig(BASS_CONFIG_ENCODE_QUEUE);
  if (queueMs == 0 || queueMs == static_cast<DWORD>(-1)) {
    queueMs = kDefaultQueueMs;
  }

  Encoder::Options options;
  options.queueMs = queueMs;
  options.stopTimeout = std::chrono::milliseconds(gStopTimeoutMs.load());
  const velloran::audio::EncoderFormat format{info.freq, static_cast<uint16_t>(info.chans)};
  if (info.chans > 0xFFFF) {
    return Fail(BASS_ERROR_FORMAT, HENCODE{0});
  }

  // The handle is known only once the encoder is in the table; the data callback reads it.
  auto handleBox = std::make_shared<std::atomic<HENCODE>>(0);
  int error = BASS_OK;
  std::shared_ptr<Encoder> encoder;
  if ((flags & BASS_ENCODE_PCM) != 0) {
    velloran::audio::WavWriter::Options wav;
    wav.header = (flags & BASS_ENCODE_NOHEAD) == 0;
    wav.rf64FromStart = (flags & BASS_ENCODE_RF64) != 0;
    encoder = Encoder::ForFile(cmdline, format, wav, options, &error);
  } else {
    Encoder::DataCallback onData;
    if (proc != nullptr) {
      onData = [proc, user, handleBox, channel = handle](const uint8_t* data, size_t size) {
        proc(handleBox->load(), channel, data, static_cast<DWORD>(size), user);
      };
    }
    encoder = Encoder::ForProcess(cmdline, format, (flags & BASS_ENCODE_NOHEAD) == 0,
                                  std::move(onData), options, &error);
  }
  if (!encoder) {
    return Fail(error, HENCODE{0});
  }
  const HENCODE encoderHandle = HandleTable::Instance().Add(encoder);
  if (encoderHandle == 0) {
    return Fail(BASS_ERROR_MEM, HENCODE{0});
  }
  handleBox->store(encoderHandle);
  // The DSP goes on first (it only fills the queue), so a channel that takes no DSP leaves no
  // file or program behind.
  const HDSP dsp = BASS_ChannelSetDSP(handle, EncoderDsp, encoder.get(), priority);
  if (dsp == 0) {
    const int rc = velloran::audio::LastError();
    HandleTable::Instance().Remove(encoderHandle);
    return Fail(rc != BASS_OK ? rc : BASS_ERROR_HANDLE, HENCODE{0});
  }
  if (const int rc = encoder->Start(); rc != BASS_OK) {
    BASS_ChannelRemoveDSP(handle, dsp);
    HandleTable::Instance().Remove(encoderHandle);
    encoder->Stop();
    return Fail(rc, HENCODE{0});
  }
  const bool autoFree = (flags & BASS_ENCODE_AUTOFREE) != 0;
  {
    std::lock_guard lock(TheRegistry().mutex);
    TheRegistry().attached[encoderHandle] = Attached{handle, dsp, autoFree};
    if (autoFree && !TheRegistry().autoFreeWatch) {
      TheRegistry().autoFreeWatch = true;
      velloran::audio::EncoderService::Instance().SetPeriodic(CheckAutoFree, kAutoFreeInterval);
    }
  }
  SetLastError(BASS_OK);
  return encoderHandle;
}

BOOL BASS_Encode_Stop(DWORD handle) {
  std::vector<Taken> taken;
  {
    std::lock_guard lock(TheRegistry().mutex);
    if (TheRegistry().attached.count(handle) != 0) {
      auto encoder = HandleTable::Instance().FindAs<Encoder>(handle);
      if (encoder && encoder->IsOwnThread()) {
        return Fail(BASS_ERROR_ILLPARAM, FALSE);  // from its own data callback: cannot wait
      }
      taken.push_back(TakeLocked(handle));
    } else {
      std::vector<HENCODE> ofChannel;
      for (const auto& [h, attached] : TheRegistry().attached) {
        if (attached.channel == handle) {
          ofChannel.push_back(h);
        }
      }
      for (HENCODE h : ofChannel) {
        auto encoder = HandleTable::Instance().FindAs<Encoder>(h);
        if (encoder && encoder->IsOwnThread()) {
          return Fail(BASS_ERROR_ILLPARAM, FALSE);
        }
      }
      for (HENCODE h : ofChannel) {
        taken.push_back(TakeLocked(h));
      }
    }
  }
  if (taken.empty()) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  for (const Taken& t : taken) {
    StopTaken(t);
  }
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_Encode_IsActive(DWORD handle) {
  bool known = false;
  const auto encoders = EncodersOf(handle, &known);
  if (!known) {
    return Fail(BASS_ERROR_HANDLE, DWORD{BASS_ACTIVE_STOPPED});
  }
  SetLastError(BASS_OK);
  for (const auto& encoder : encoders) {
    if (encoder->Active()) {
      return BASS_ACTIVE_PLAYING;
    }
  }
  return BASS_ACTIVE_STOPPED;
}

BOOL BASS_Encode_SetNotify(DWORD handle, ENCODENOTIFYPROC* proc, void* user) {
  std::vector<std::pair<HENCODE, std::shared_ptr<Encoder>>> targets;
  {
    std::lock_guard lock(TheRegistry().mutex);
    for (const auto& [h, attached] : TheRegistry().attached) {
      if (h == handle || attached.channel == handle) {
        if (auto encoder = HandleTable::Instance().FindAs<Encoder>(h)) {
          targets.emplace_back(h, std::move(encoder));
        }
      }
    }
  }
  if (targets.empty()) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  for (auto& [h, encoder] : targets) {
    Encoder::NotifyCallback callback;
    if (proc != nullptr) {
      callback = [proc, user, h = h](uint32_t status) { proc(h, status, user); };
    }
    encoder->SetNotify(std::move(callback));
  }
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"
