// The stream and channel functions of the audio facade: push streams, data, positions,
// format conversions, info, free and stop.
#include <cmath>
#include <cstring>

#include "audio/bass.h"
#include "audio/engine/Engine.h"
#include "audio/engine/HandleTable.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::engine::Channel;
using velloran::audio::engine::FindPushStream;
using velloran::audio::engine::Mixer;
using velloran::audio::engine::PushStream;

namespace {

constexpr DWORD kMaxRate = 1000000;
constexpr DWORD kMaxChannels = 32;
constexpr DWORD kCtypeStream = 0x10000;
constexpr DWORD kCtypeMixer = 0x10800;
constexpr DWORD kLengthFlags = 0xF0000000u;  // BASS_DATA_* flags in a length argument

std::shared_ptr<Channel> FindChannel(DWORD handle) {
  return HandleTable::Instance().FindAs<Channel>(handle);
}

}  // namespace

extern "C" {

HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* /*user*/) {
  if (proc != STREAMPROC_PUSH) {
    return Fail(BASS_ERROR_NOTAVAIL, HSTREAM{0});  // only push streams are offered
  }
  if (freq == 0 || freq > kMaxRate) {
    return Fail(BASS_ERROR_FREQ, HSTREAM{0});
  }
  if (chans == 0 || chans > kMaxChannels || (flags & BASS_SAMPLE_8BITS) != 0) {
    return Fail(BASS_ERROR_FORMAT, HSTREAM{0});
  }
  const bool isFloat = (flags & BASS_SAMPLE_FLOAT) != 0;
  auto stream = std::make_shared<PushStream>(freq, chans, isFloat);
  const HSTREAM handle = HandleTable::Instance().Add(stream);
  if (handle == 0) {
    return Fail(BASS_ERROR_MEM, HSTREAM{0});
  }
  SetLastError(BASS_OK);
  return handle;
}

DWORD BASS_StreamPutData(HSTREAM handle, const void* buffer, DWORD length) {
  auto stream = FindPushStream(handle);
  if (!stream) {
    return Fail(BASS_ERROR_HANDLE, static_cast<DWORD>(-1));
  }
  const DWORD bytes = length & ~BASS_STREAMPROC_END;
  if (bytes > 0 && buffer == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
  }
  if (bytes > 0) {
    stream->Put(buffer, bytes);
  }
  SetLastError(BASS_OK);
  return static_cast<DWORD>(stream->QueuedBytes());
}

BOOL BASS_StreamFree(HSTREAM handle) {
  const int rc = velloran::audio::engine::FreeChannel(handle);
  if (rc != BASS_OK) {
    return Fail(rc, FALSE);
  }
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ChannelFree(DWORD handle) {
  return BASS_StreamFree(handle);
}

BOOL BASS_ChannelStop(DWORD handle) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  channel->Stop();
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  const auto& format = channel->Format();
  std::memset(info, 0, sizeof(*info));
  info->freq = format.rate;
  info->chans = format.channels;
  info->flags = BASS_STREAM_DECODE | (format.isFloat ? DWORD{BASS_SAMPLE_FLOAT} : 0u) |
                (format.flags & (BASS_MIXER_NONSTOP | BASS_MIXER_END));
  const bool mixer = std::dynamic_pointer_cast<Mixer>(channel) != nullptr;
  info->ctype = mixer ? kCtypeMixer : kCtypeStream;
  info->origres = format.isFloat ? 32 : 16;
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, static_cast<DWORD>(-1));
  }
  const DWORD bytes = length & ~kLengthFlags;
  if (bytes > 0 && buffer == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
  }
  if (auto mixer = std::dynamic_pointer_cast<Mixer>(channel)) {
    const size_t done = mixer->GetData(buffer, bytes, handle);
    if (done == Mixer::kReentered) {
      return Fail(BASS_ERROR_ALREADY, static_cast<DWORD>(-1));
    }
    SetLastError(BASS_OK);
    return static_cast<DWORD>(done);
  }
  if (auto stream = std::dynamic_pointer_cast<PushStream>(channel)) {
    if (stream->AttachedMixer()) {
      return Fail(BASS_ERROR_NOTAVAIL, static_cast<DWORD>(-1));  // the mixer reads it
    }
    const size_t done = stream->ReadBytes(buffer, bytes);
    SetLastError(BASS_OK);
    return static_cast<DWORD>(done);
  }
  return Fail(BASS_ERROR_NOTAVAIL, static_cast<DWORD>(-1));
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, static_cast<QWORD>(-1));
  }
  if (mode != BASS_POS_BYTE) {
    return Fail(BASS_ERROR_NOTAVAIL, static_cast<QWORD>(-1));
  }
  if (auto mixer = std::dynamic_pointer_cast<Mixer>(channel)) {
    SetLastError(BASS_OK);
    return mixer->Position();
  }
  return Fail(BASS_ERROR_NOTAVAIL, static_cast<QWORD>(-1));
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, static_cast<QWORD>(-1));
  }
  if (!std::isfinite(pos) || pos < 0) {
    return Fail(BASS_ERROR_ILLPARAM, static_cast<QWORD>(-1));
  }
  SetLastError(BASS_OK);
  return channel->Format().BytesForSeconds(pos);
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  auto channel = FindChannel(handle);
  if (!channel) {
    return Fail(BASS_ERROR_HANDLE, -1.0);
  }
  const auto& format = channel->Format();
  const QWORD frames = pos / format.FrameBytes();
  SetLastError(BASS_OK);
  return static_cast<double>(frames) / static_cast<double>(format.rate);
}

}  // extern "C"
