#include "audio/encode/StreamServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

#include "audio/encode/Encoder.h"
#include "audio/encode/IcyMetadataBlock.h"
#include "audio/encode/OggPages.h"

namespace velloran::audio {

struct StreamServer::Listener {
  StreamServer* server = nullptr;
  std::string client;
  uint64_t position = 0;  // next ring byte to send
  bool started = false;   // position set (and, for Ogg, synchronised)
  bool syncing = false;   // Ogg: waiting for the next audio page
  bool metadata = false;
  size_t untilMeta = kMetaInterval;
  uint64_t titleSerialSent = 0;
  std::string pending;  // header pages or a metadata block, sent before more audio
};

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(200);
constexpr int kSocketBufferBytes = 8192;

void AddRequestHeader(std::string* headers, MHD_ValueKind, const char* key, const char* value) {
  *headers += std::string(key) + ": " + (value != nullptr ? value : "") + "\r\n";
}

enum MHD_Result CollectHeader(void* cls, enum MHD_ValueKind kind, const char* key,
                              const char* value) {
  AddRequestHeader(static_cast<std::string*>(cls), kind, key, value);
  return MHD_YES;
}

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) {
    return "";
  }
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* addr = info->client_addr;
  if (addr->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (addr->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(in6->sin6_port));
  }
  return "";
}

enum MHD_Result Refuse(MHD_Connection* connection, unsigned status, const char* text) {
  MHD_Response* response = MHD_create_response_from_buffer(
      std::strlen(text), const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
  if (response == nullptr) {
    return MHD_NO;
  }
  const enum MHD_Result rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

}  // namespace

struct StreamServerCallbacks {
  static enum MHD_Result Request(void* cls, MHD_Connection* connection, const char* /*url*/,
                                 const char* method, const char* /*version*/,
                                 const char* /*uploadData*/, size_t* uploadSize, void** state) {
    if (*state == nullptr) {
      *state = connection;  // headers are in; answer at the next call
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      *uploadSize = 0;  // a listener sends no body; whatever comes is ignored
      return MHD_YES;
    }
    return static_cast<enum MHD_Result>(
        static_cast<StreamServer*>(cls)->Answer(connection, method));
  }
  static ssize_t Read(void* cls, uint64_t /*pos*/, char* buffer, size_t max) {
    auto* listener = static_cast<StreamServer::Listener*>(cls);
    return listener->server->Fill(*listener, buffer, max);
  }
  static void Free(void* cls) {
    auto* listener = static_cast<StreamServer::Listener*>(cls);
    listener->server->Release(listener);
  }
};

bool StreamServer::ParseAddress(const std::string& text, std::string* address, uint16_t* port) {
  size_t colon = std::string::npos;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    *address = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos) {
      // A bare port number is accepted too.
      *address = "";
      colon = static_cast<size_t>(-1);
    } else {
      *address = text.substr(0, colon);
    }
  }
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; })) {
    return false;
  }
  const long value = std::stol(digits);
  if (value > 65535) {
    return false;
  }
  *port = static_cast<uint16_t>(value);
  return true;
}

StreamServer::StreamServer(PrivateTag, const Options& options, std::weak_ptr<Encoder> encoder)
    : options_(options),
      encoder_(std::move(encoder)),
      ring_(std::max<size_t>(options.bufferBytes, 1)) {}

StreamServer::~StreamServer() {
  Close();
}

std::shared_ptr<StreamServer> StreamServer::Start(const Options& options,
                                                  std::weak_ptr<Encoder> encoder, int* error) {
  if (options.noHttp) {
    *error = BASS_ERROR_NOTAVAIL;  // listeners always get HTTP headers here
    return nullptr;
  }
  if (options.bufferBytes == 0) {
    *error = BASS_ERROR_ILLPARAM;
    return nullptr;
  }
  auto server = std::make_shared<StreamServer>(PrivateTag{}, options, std::move(encoder));
  sockaddr_storage storage{};
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD;
  if (options.address.empty()) {
    flags |= MHD_USE_DUAL_STACK;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_addr = in6addr_any;
    in6->sin6_port = htons(options.port);
  } else if (auto* in = reinterpret_cast<sockaddr_in*>(&storage);
             inet_pton(AF_INET, options.address.c_str(), &in->sin_addr) == 1) {
    in->sin_family = AF_INET;
    in->sin_port = htons(options.port);
  } else if (auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
             inet_pton(AF_INET6, options.address.c_str(), &in6->sin6_addr) == 1) {
    flags |= MHD_USE_IPv6;
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(options.port);
  } else {
    *error = BASS_ERROR_ILLPARAM;  // a listening address is numeric
    return nullptr;
  }
  server->daemon_ =
      MHD_start_daemon(flags, options.port, nullptr, nullptr, &StreamServerCallbacks::Request,
                       server.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage),
                       MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(kMaxListeners + 8),
                       MHD_OPTION_CONNECTION_TIMEOUT, kListenerTimeout, MHD_OPTION_END);
  if (server->daemon_ == nullptr && options.address.empty()) {
    // No IPv6 on this machine: all IPv4 addresses then.
    auto* in = reinterpret_cast<sockaddr_in*>(&storage);
    storage = {};
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_ANY);
    in->sin_port = htons(options.port);
    server->daemon_ =
        MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD,
                         options.port, nullptr, nullptr, &StreamServerCallbacks::Request,
                         server.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&storage),
                         MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(kMaxListeners + 8),
                         MHD_OPTION_CONNECTION_TIMEOUT, kListenerTimeout, MHD_OPTION_END);
  }
  if (server->daemon_ == nullptr) {
    *error = BASS_ERROR_INIT;
    return nullptr;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(server->daemon_, MHD_DAEMON_INFO_BIND_PORT);
  server->port_ = info != nullptr ? info->port : options.port;
  return server;
}

void StreamServer::Consume(const uint8_t* data, size_t size) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) {
      return;
    }
    const size_t capacity = ring_.size();
    if (size > capacity) {  // only the newest ring-full matters
      written_ += size - capacity;
      data += size - capacity;
      size = capacity;
    }
    size_t at = static_cast<size_t>(written_ % capacity);
    size_t left = size;
    while (left > 0) {
      const size_t n = std::min(left, capacity - at);
      std::memcpy(ring_.data() + at, data, n);
      data += n;
      left -= n;
      at = (at + n) % capacity;
    }
    written_ += size;
  }
  cv_.notify_all();
}

void StreamServer::SetTitle(const std::string& title) {
  std::lock_guard lock(mutex_);
  title_ = title;
  ++titleSerial_;
}

std::string StreamServer::ContentType() const {
  const auto encoder = encoder_.lock();
  const std::string head = encoder ? encoder->OutputHead().substr(0, 16) : "";
  if (LooksLikeOgg(head)) {
    return "application/ogg";
  }
  if (head.rfind("RIFF", 0) == 0) {
    return "audio/wav";
  }
  return "audio/mpeg";
}

int StreamServer::Answer(MHD_Connection* connection, const char* method) {
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    return Refuse(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed");
  }
  if (listeners_.fetch_add(1) >= kMaxListeners) {
    listeners_.fetch_sub(1);
    return Refuse(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Server full");
  }
  // Little room in the kernel for a listener: what it has not taken waits in our ring, where a
  // listener that falls too far behind is noticed and dropped.
  if (const MHD_ConnectionInfo* fd =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
    int bytes = kSocketBufferBytes;
    setsockopt(fd->connect_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  }
  auto listener = std::make_unique<Listener>();
  listener->server = this;
  listener->client = ClientAddress(connection);
  std::string headers;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, &CollectHeader, &headers);
  if (options_.clientProc != nullptr &&
      !options_.clientProc(options_.handle, TRUE, listener->client.c_str(), headers.data(),
                           options_.user)) {
    listeners_.fetch_sub(1);
    return Refuse(connection, MHD_HTTP_FORBIDDEN, "Forbidden");
  }
  const char* icy = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Icy-MetaData");
  listener->metadata = options_.metadata && icy != nullptr && std::strcmp(icy, "1") == 0;
  const bool ogg = ContentType() == "application/ogg";
  if (ogg) {
    const auto encoder = encoder_.lock();
    if (const auto pages = encoder ? OggHeaderPages(encoder->OutputHead()) : std::nullopt) {
      listener->pending = *pages;
      listener->syncing = true;
    }
  }
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 8192, &StreamServerCallbacks::Read,
                                        listener.get(), &StreamServerCallbacks::Free);
  if (response == nullptr) {
    Release(listener.release());
    return MHD_NO;
  }
  Listener* raw = listener.release();  // freed through StreamServerCallbacks::Free from here on
  (void)raw;
  // An HTTP/1.0 answer: the audio runs until the connection closes, without chunks.
  MHD_set_response_options(response, MHD_RF_HTTP_1_0_SERVER, MHD_RO_END);
  MHD_add_response_header(response, "Content-Type", ContentType().c_str());
  MHD_add_response_header(response, "Cache-Control", "no-cache");
  if (ogg) {
    MHD_add_response_header(response, "icy-pub", "0");
  }
  if (raw->metadata) {
    MHD_add_response_header(response, "icy-metaint", std::to_string(kMetaInterval).c_str());
  }
  const enum MHD_Result rc = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return rc;
}

ssize_t StreamServer::Fill(Listener& listener, char* buffer, size_t max) {
  size_t out = 0;
  auto flushPending = [&] {
    const size_t n = std::min(max - out, listener.pending.size());
    std::memcpy(buffer + out, listener.pending.data(), n);
    listener.pending.erase(0, n);
    out += n;
  };
  flushPending();
  if (out > 0) {
    return static_cast<ssize_t>(out);
  }
  std::unique_lock lock(mutex_);
  const size_t capacity = ring_.size();
  if (!listener.started) {
    const uint64_t kept = std::min<uint64_t>(written_, capacity);
    listener.position = written_ - std::min<uint64_t>(kept, options_.burstBytes);
    listener.started = true;
  }
  for (;;) {
    if (stop_) {
      return MHD_CONTENT_READER_END_OF_STREAM;
    }
    if (written_ - listener.position > capacity) {
      // Too slow for the buffer: dropped rather than waited for.
      droppedListeners_.fetch_add(1);
      return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (written_ > listener.position) {
      break;
    }
    cv_.wait_for(lock, kWaitSlice);
  }
  auto ringCopy = [&](uint64_t from, size_t n, char* to) {
    size_t at = static_cast<size_t>(from % capacity);
    while (n > 0) {
      const size_t part = std::min(n, capacity - at);
      std::memcpy(to, ring_.data() + at, part);
      to += part;
      n -= part;
      at = (at + part) % capacity;
    }
  };
  if (listener.syncing) {
    std::string available(static_cast<size_t>(written_ - listener.position), '\0');
    ringCopy(listener.position, available.size(), available.data());
    const size_t at = FindOggAudioPage(available);
    if (at == std::string::npos) {
      listener.position = written_ - std::min<uint64_t>(written_ - listener.position, 64);
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return 0 + static_cast<ssize_t>(out);  // nothing yet (MHD calls again)
    }
    listener.position += at;
    listener.syncing = false;
  }
  size_t n = static_cast<size_t>(std::min<uint64_t>(written_ - listener.position, max));
  if (listener.metadata) {
    n = std::min(n, listener.untilMeta);
  }
  ringCopy(listener.position, n, buffer);
  listener.position += n;
  out = n;
  if (listener.metadata) {
    listener.untilMeta -= n;
    if (listener.untilMeta == 0) {
      listener.untilMeta = kMetaInterval;
      std::optional<std::string> title;
      if (titleSerial_ != listener.titleSerialSent) {
        listener.titleSerialSent = titleSerial_;
        title = title_;
      }
      listener.pending = IcyMetadataBlock(title);
    }
  }
  lock.unlock();
  if (out < max && !listener.pending.empty()) {
    flushPending();
  }
  return static_cast<ssize_t>(out);
}

void StreamServer::Release(Listener* listener) {
  if (options_.clientProc != nullptr) {
    options_.clientProc(options_.handle, FALSE, listener->client.c_str(), nullptr, options_.user);
  }
  listeners_.fetch_sub(1);
  delete listener;
}

void StreamServer::Close() {
  {
    std::lock_guard lock(mutex_);
    if (stop_) {
      return;
    }
    stop_ = true;
  }
  cv_.notify_all();
  if (daemon_ != nullptr) {
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
  }
}

}  // namespace velloran::audio
