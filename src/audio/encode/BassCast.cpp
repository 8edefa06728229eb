// The casting functions of the audio facade: an external encoder's standard output sent to a
// streaming server (Caster) or served to listeners by the built-in stream server
// (StreamServer). Both are outlets of the encoder and end with it.
#include <algorithm>
#include <cctype>
#include <string>

#include "audio/bass.h"
#include "audio/encode/BassEncode.h"
#include "audio/encode/Caster.h"
#include "audio/encode/StreamServer.h"

using velloran::audio::Caster;
using velloran::audio::Fail;
using velloran::audio::SetLastError;
using velloran::audio::StreamServer;

namespace {

// The server's answer to the last refused BASS_Encode_CastInit of this thread.
thread_local std::string tCastRefusal;

std::string Text(const char* text) {
  return text != nullptr ? text : "";
}

// The contact details among the extra header lines ("icy-aim:x" CR LF ...); other lines are
// not passed on (libshout sends only the headers it knows).
void ReadContactHeaders(const std::string& headers, velloran::audio::CastInfo* info) {
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      end = headers.size();
    }
    const std::string line = headers.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::string key = line.substr(0, colon);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (key == "icy-aim") {
      info->aim = value;
    } else if (key == "icy-irc") {
      info->irc = value;
    } else if (key == "icy-icq") {
      info->icq = value;
    }
  }
}

}  // namespace

namespace velloran::audio {

std::string LastCastRefusal() {
  return tCastRefusal;
}

}  // namespace velloran::audio

extern "C" {

BOOL BASS_Encode_CastInit(HENCODE handle, const char* server, const char* pass, const char* content,
                          const char* name, const char* url, const char* genre, const char* desc,
                          const char* headers, DWORD bitrate, DWORD flags) {
  tCastRefusal.clear();
  const auto encoder = velloran::audio::FindEncoder(handle);
  if (!encoder) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  if (!encoder->IsProcess()) {
    return Fail(BASS_ERROR_NOTAVAIL, FALSE);
  }
  if (encoder->FindOutlet<Caster>()) {
    return Fail(BASS_ERROR_ALREADY, FALSE);
  }
  if (server == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  const auto target = velloran::audio::ParseCastTarget(server, Text(pass));
  if (!target) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  velloran::audio::CastInfo info;
  info.contentType = Text(content);
  info.name = Text(name);
  info.url = Text(url);
  info.genre = Text(genre);
  info.description = Text(desc);
  ReadContactHeaders(Text(headers), &info);
  info.bitrate = bitrate;
  info.isPublic = (flags & BASS_ENCODE_CAST_PUBLIC) != 0;
  DWORD timeoutMs = BASS_GetConfig(BASS_CONFIG_NET_TIMEOUT);
  if (timeoutMs == 0 || timeoutMs == static_cast<DWORD>(-1)) {
    timeoutMs = 5000;
  }
  int error = BASS_OK;
  auto caster = Caster::Connect(*target, info, encoder, std::chrono::milliseconds(timeoutMs),
                                &error, &tCastRefusal);
  if (!caster) {
    return Fail(error, FALSE);
  }
  if (!encoder->AddOutlet(caster)) {
    caster->Close();
    return Fail(BASS_ERROR_HANDLE, FALSE);  // stopped meanwhile
  }
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_Encode_CastSetTitle(HENCODE handle, const char* title, const char* /*url*/) {
  const auto encoder = velloran::audio::FindEncoder(handle);
  if (!encoder) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  const auto caster = encoder->FindOutlet<Caster>();
  const auto server = encoder->FindOutlet<StreamServer>();
  if (!caster && !server) {
    return Fail(BASS_ERROR_NOTAVAIL, FALSE);
  }
  if (caster) {
    caster->SetTitle(Text(title));
  }
  if (server) {
    server->SetTitle(Text(title));
  }
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_Encode_ServerInit(HENCODE handle, const char* port, DWORD buffer, DWORD burst,
                             DWORD flags, ENCODECLIENTPROC* proc, void* user) {
  const auto encoder = velloran::audio::FindEncoder(handle);
  if (!encoder) {
    return Fail(BASS_ERROR_HANDLE, DWORD{0});
  }
  if (!encoder->IsProcess()) {
    return Fail(BASS_ERROR_NOTAVAIL, DWORD{0});
  }
  if (encoder->FindOutlet<StreamServer>()) {
    return Fail(BASS_ERROR_ALREADY, DWORD{0});
  }
  StreamServer::Options options;
  if (!StreamServer::ParseAddress(Text(port), &options.address, &options.port)) {
    return Fail(BASS_ERROR_ILLPARAM, DWORD{0});
  }
  options.bufferBytes = buffer;
  options.burstBytes = std::min(burst, buffer);
  options.metadata = (flags & BASS_ENCODE_SERVER_META) != 0;
  options.noHttp = (flags & BASS_ENCODE_SERVER_NOHTTP) != 0;
  options.clientProc = proc;
  options.user = user;
  options.handle = handle;
  int error = BASS_OK;
  auto server = StreamServer::Start(options, encoder, &error);
  if (!server) {
    return Fail(error, DWORD{0});
  }
  const DWORD boundPort = server->Port();
  if (!encoder->AddOutlet(server)) {
    server->Close();
    return Fail(BASS_ERROR_HANDLE, DWORD{0});
  }
  SetLastError(BASS_OK);
  return boundPort;
}

}  // extern "C"
