// The URL-stream functions of the audio facade: open, syncs, tags, and the output device choice
// that callers make before opening a stream.
#include <string>

#include "audio/bass.h"
#include "audio/engine/ConfigTable.h"
#include "audio/engine/HandleTable.h"
#include "audio/url/UrlStream.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::engine::ConfigTable;
using velloran::audio::url::UrlStream;

namespace {

DWORD Config(DWORD option) {
  return ConfigTable::Instance().Get(option).value_or(0);
}

std::shared_ptr<UrlStream> FindUrlStream(DWORD handle) {
  return HandleTable::Instance().FindAs<UrlStream>(handle);
}

thread_local std::string tTags;

}  // namespace

extern "C" {

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user) {
  if (url == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, HSTREAM{0});
  }
  if (offset != 0) {
    return Fail(BASS_ERROR_NOTAVAIL, HSTREAM{0});  // live streams cannot start elsewhere
  }
  UrlStream::Options options;
  options.timeoutMs = Config(BASS_CONFIG_NET_TIMEOUT);
  const DWORD readTimeout = Config(BASS_CONFIG_NET_READTIMEOUT);
  options.readTimeoutMs = readTimeout != 0 ? readTimeout : options.timeoutMs;
  options.resolvePlaylists = Config(BASS_CONFIG_NET_PLAYLIST) != 0;
  options.restrictRate = (flags & BASS_STREAM_RESTRATE) != 0;
  options.download = proc;
  options.user = user;
  int error = BASS_OK;
  auto stream = UrlStream::Open(url, options, &error);
  if (!stream) {
    return Fail(error != BASS_OK ? error : BASS_ERROR_UNKNOWN, HSTREAM{0});
  }
  const HSTREAM handle = HandleTable::Instance().Add(stream);
  if (handle == 0) {
    return Fail(BASS_ERROR_MEM, HSTREAM{0});
  }
  stream->Start(handle);
  SetLastError(BASS_OK);
  return handle;
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD /*param*/, SYNCPROC* proc, void* user) {
  auto stream = FindUrlStream(handle);
  if (!stream) {
    const bool known = HandleTable::Instance().Find(handle) != nullptr;
    return Fail(known ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE, HSYNC{0});
  }
  const DWORD kind = type & 0x00FFFFFF;
  if (proc == nullptr || (kind != BASS_SYNC_END && kind != BASS_SYNC_META)) {
    return Fail(BASS_ERROR_ILLTYPE, HSYNC{0});
  }
  const HSYNC sync = stream->AddSync(type, proc, user);
  SetLastError(BASS_OK);
  return sync;
}

BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
  auto stream = FindUrlStream(handle);
  if (!stream || !stream->RemoveSync(sync)) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  SetLastError(BASS_OK);
  return TRUE;
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  auto stream = FindUrlStream(handle);
  if (!stream) {
    const bool known = HandleTable::Instance().Find(handle) != nullptr;
    return Fail(known ? BASS_ERROR_NOTAVAIL : BASS_ERROR_HANDLE, static_cast<const char*>(nullptr));
  }
  if (tags == BASS_TAG_META) {
    tTags = stream->MetaTag();
    if (tTags.empty()) {
      return Fail(BASS_ERROR_NOTAVAIL, static_cast<const char*>(nullptr));
    }
  } else if (tags == BASS_TAG_ICY) {
    const std::string lines = stream->IcyHeaders();
    if (lines.empty()) {
      return Fail(BASS_ERROR_NOTAVAIL, static_cast<const char*>(nullptr));
    }
    tTags.clear();
    for (char c : lines) {
      tTags.push_back(c == '\n' ? '\0' : c);
    }
    tTags.push_back('\0');  // the list ends with an empty entry
  } else {
    return Fail(BASS_ERROR_NOTAVAIL, static_cast<const char*>(nullptr));
  }
  SetLastError(BASS_OK);
  return tTags.c_str();
}

BOOL BASS_SetDevice(DWORD /*device*/) {
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"
