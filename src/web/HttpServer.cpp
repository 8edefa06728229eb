#include "web/HttpServer.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <thread>

#include "core/Clock.h"
#include "core/Error.h"

namespace velloran::web {
namespace {

constexpr const char* kUnauthorizedBody =
    "<html><head><title>401 Unauthorized</title></head>"
    "<body><h1>401 Unauthorized</h1></body></html>";
constexpr const char* kTooLargeBody = "Request body too large";

// Watch of one connection for the whole-request time-out (the library's socket context).
struct ConnectionWatch {
  int fd = -1;
  uint64_t deadline = 0;
  bool received = false;  // the request is complete: no more deadline
  bool cut = false;
  std::string rawTarget;  // the request target as sent (one request per connection)
};

// State of one request, made at the handler's first call and freed when the request completes
// (the library reports completion only for requests that reached the handler).
struct RequestState {
  std::string rawTarget;
  bool headersSeen = false;
  bool tooLarge = false;
  std::string body;
  THttpRequest request;
};

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

bool IsFormBody(const std::string& contentType) {
  const std::string lower = LowerAscii(contentType);
  const size_t semicolon = lower.find(';');
  std::string type = lower.substr(0, semicolon);
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) {
    type.pop_back();
  }
  return type == "application/x-www-form-urlencoded";
}

ssize_t ReadStream(void* cls, uint64_t pos, char* buf, size_t max) {
  auto* stream = static_cast<TBodyStream*>(cls);
  const ssize_t got = stream->Read(pos, buf, max);
  if (got < 0) {
    return MHD_CONTENT_READER_END_WITH_ERROR;
  }
  if (got == 0) {
    return MHD_CONTENT_READER_END_OF_STREAM;
  }
  return got;
}

void FreeStream(void* cls) {
  delete static_cast<TBodyStream*>(cls);
}

void AddHeader(MHD_Response* response, const char* name, const std::string& value) {
  MHD_add_response_header(response, name, SanitizeHeaderValue(value).c_str());
}

}  // namespace

struct THttpServer::Impl {
  Impl(IHttpHandler& h, THttpServerLimits l) : handler(h), limits(l) {}

  IHttpHandler& handler;
  THttpServerLimits limits;
  MHD_Daemon* daemon = nullptr;
  uint16_t port = 0;

  // Start-up errors reported by the library.
  std::mutex logMutex;
  bool capturing = false;
  std::string lastLibraryError;

  // Whole-request watchdog and the stop signal for sleeping connection threads.
  std::mutex watchMutex;
  std::condition_variable watchCv;
  std::set<ConnectionWatch*> watches;
  bool stopping = false;
  std::thread watchdog;

  __attribute__((format(printf, 2, 0))) static void Log(void* cls, const char* format,
                                                        va_list args) {
    auto* self = static_cast<Impl*>(cls);
    std::lock_guard<std::mutex> lock(self->logMutex);
    if (!self->capturing) {
      return;
    }
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
      message.pop_back();
    }
    self->lastLibraryError = message;
  }

  // The target as sent, before the library decodes it; kept with the connection until the
  // handler's first call takes it.
  static void* UriLog(void* /*cls*/, const char* uri, MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info != nullptr && info->socket_context != nullptr) {
      static_cast<ConnectionWatch*>(info->socket_context)->rawTarget = uri != nullptr ? uri : "";
    }
    return nullptr;
  }

  static void Completed(void* /*cls*/, MHD_Connection* /*connection*/, void** conCls,
                        MHD_RequestTerminationCode /*code*/) {
    delete static_cast<RequestState*>(*conCls);
    *conCls = nullptr;
  }

  static void NotifyConnection(void* cls, MHD_Connection* connection, void** socketContext,
                               MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<Impl*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* watch = new ConnectionWatch;
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      watch->fd = info != nullptr ? info->connect_fd : -1;
      watch->deadline = TickCount64() + self->limits.requestTimeoutMs;
      std::lock_guard<std::mutex> lock(self->watchMutex);
      self->watches.insert(watch);
      *socketContext = watch;
    } else {
      auto* watch = static_cast<ConnectionWatch*>(*socketContext);
      if (watch != nullptr) {
        std::lock_guard<std::mutex> lock(self->watchMutex);
        self->watches.erase(watch);
        delete watch;
        *socketContext = nullptr;
      }
    }
  }

  // Cuts connections whose request has not arrived in time: shutting the socket down makes the
  // connection's thread see the end and close it. The watch is removed (under watchMutex)
  // before the library closes the descriptor, so the descriptor is still this connection's.
  void Watchdog() {
    std::unique_lock<std::mutex> lock(watchMutex);
    while (!stopping) {
      const uint64_t now = TickCount64();
      for (ConnectionWatch* watch : watches) {
        if (!watch->received && !watch->cut && now >= watch->deadline && watch->fd >= 0) {
          ::shutdown(watch->fd, SHUT_RDWR);
          watch->cut = true;
        }
      }
      watchCv.wait_for(lock, std::chrono::milliseconds(100));
    }
  }

  void MarkReceived(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info != nullptr && info->socket_context != nullptr) {
      std::lock_guard<std::mutex> lock(watchMutex);
      static_cast<ConnectionWatch*>(info->socket_context)->received = true;
    }
  }

  static void ReadHeaders(MHD_Connection* connection, THttpRequest& request) {
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
          static_cast<THttpRequest*>(cls)->headers.emplace_back(key != nullptr ? key : "",
                                                                value != nullptr ? value : "");
          return MHD_YES;
        },
        &request);
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info != nullptr && info->client_addr != nullptr) {
      char host[NI_MAXHOST];
      const socklen_t length =
          info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
      if (::getnameinfo(info->client_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) ==
          0) {
        request.remoteAddress = host;
      }
    }
  }

  void BeginRequest(MHD_Connection* connection, const char* method, RequestState& state) {
    THttpRequest& request = state.request;
    request.methodName = method != nullptr ? method : "";
    request.method = MethodFromName(request.methodName);
    SplitRequestTarget(state.rawTarget, request.document, request.query);
    request.params = ParseUrlEncoded(request.query);
    ReadHeaders(connection, request);
    const std::string authorization = request.Header("Authorization");
    if (!authorization.empty()) {
      request.credentials = ParseBasicAuthorization(authorization);
    }
    const std::string range = request.Header("Range");
    if (!range.empty()) {
      request.ranges = ParseRangeHeader(range);
    }
  }

  MHD_Result Answer(MHD_Connection* connection, THttpResponse& answer, bool head) {
    MarkReceived(connection);
    const bool hasBody =
        !answer.authRealm.empty() || (answer.redirect.empty() && !head && answer.HasBody());
    unsigned status = static_cast<unsigned>(answer.status);
    MHD_Response* response = nullptr;
    std::string contentType = answer.contentType;
    if (!answer.authRealm.empty()) {
      status = MHD_HTTP_UNAUTHORIZED;
      response = MHD_create_response_from_buffer(std::strlen(kUnauthorizedBody),
                                                 const_cast<char*>(kUnauthorizedBody),
                                                 MHD_RESPMEM_PERSISTENT);
      contentType = "text/html";
      std::string realm = answer.authRealm;
      for (char& c : realm) {
        if (c == '"' || c == '\\') {
          c = '_';
        }
      }
      AddHeader(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Basic realm=\"" + realm + "\"");
    } else if (!answer.redirect.empty()) {
      status = MHD_HTTP_FOUND;
      response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
      AddHeader(response, MHD_HTTP_HEADER_LOCATION, answer.redirect);
      contentType.clear();
    } else if (answer.stream && !head) {
      TBodyStream* stream = answer.stream.release();
      if (auto* file = dynamic_cast<TFileBodyStream*>(stream)) {
        const int64_t offset = file->Offset();
        const int64_t length = file->Size();
        const int fd = file->Release();
        delete file;
        response = MHD_create_response_from_fd_at_offset64(static_cast<uint64_t>(length), fd,
                                                           static_cast<uint64_t>(offset));
        if (response == nullptr) {
          ::close(fd);
        }
      } else if (auto* memory = dynamic_cast<TMemoryBodyStream*>(stream)) {
        response = MHD_create_response_from_buffer(static_cast<size_t>(memory->Size()),
                                                   const_cast<unsigned char*>(memory->Data()),
                                                   MHD_RESPMEM_PERSISTENT);
        delete memory;
      } else {
        const int64_t size = stream->Size();
        response = MHD_create_response_from_callback(
            size < 0 ? MHD_SIZE_UNKNOWN : static_cast<uint64_t>(size), 64 * 1024, &ReadStream,
            stream, &FreeStream);
        if (response == nullptr) {
          delete stream;
        }
      }
    } else {
      // HEAD: the library sends the headers of the answer without its body.
      std::string text = answer.stream ? std::string() : answer.body;
      answer.stream.reset();
      response = MHD_create_response_from_buffer(text.size(), text.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr) {
      return MHD_NO;
    }
    if (contentType.empty() && hasBody) {
      contentType = kDefaultContentType;
    }
    if (!contentType.empty()) {
      AddHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    }
    if (!answer.contentDisposition.empty()) {
      AddHeader(response, MHD_HTTP_HEADER_CONTENT_DISPOSITION, answer.contentDisposition);
    }
    if (!answer.acceptRanges.empty()) {
      AddHeader(response, MHD_HTTP_HEADER_ACCEPT_RANGES, answer.acceptRanges);
    }
    if (answer.contentRangeLength >= 0) {
      AddHeader(response, MHD_HTTP_HEADER_CONTENT_RANGE,
                "bytes " + std::to_string(answer.contentRangeFirst) + "-" +
                    std::to_string(answer.contentRangeLast) + "/" +
                    std::to_string(answer.contentRangeLength));
    }
    for (const auto& [name, value] : answer.extraHeaders) {
      const std::string key = SanitizeHeaderValue(name);
      if (!key.empty() && key.find(':') == std::string::npos) {
        AddHeader(response, key.c_str(), value);
      }
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
  }

  void RunHandler(RequestState& state, THttpResponse& answer, bool other) {
    try {
      if (other) {
        handler.HandleOther(state.request, answer);
      } else {
        handler.HandleGet(state.request, answer);
      }
    } catch (const std::exception& e) {
      answer.Fail(e.what());
    } catch (...) {
      answer.Fail("Unknown error");
    }
  }

  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* /*url*/,
                           const char* method, const char* /*version*/, const char* uploadData,
                           size_t* uploadSize, void** conCls) {
    auto* self = static_cast<Impl*>(cls);
    auto* state = static_cast<RequestState*>(*conCls);
    if (state == nullptr) {
      state = new RequestState;
      *conCls = state;
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
      if (info != nullptr && info->socket_context != nullptr) {
        state->rawTarget.swap(static_cast<ConnectionWatch*>(info->socket_context)->rawTarget);
      }
    }
    if (!state->headersSeen) {
      state->headersSeen = true;
      self->BeginRequest(connection, method, *state);
      if (state->request.method == THttpMethod::hmOther) {
        // Answered at once; a body, if any, is never read (the connection closes).
        THttpResponse answer;
        self->RunHandler(*state, answer, true);
        return self->Answer(connection, answer, false);
      }
      const std::string length = state->request.Header("Content-Length");
      if (!length.empty()) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long declared = std::strtoull(length.c_str(), &end, 10);
        if (errno != 0 || end == length.c_str() || declared > self->limits.maxBodyBytes) {
          THttpResponse answer;
          answer.status = 413;
          answer.SetText(kTooLargeBody);
          answer.contentType = "text/plain";
          return self->Answer(connection, answer, false);
        }
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (state->body.size() + *uploadSize > self->limits.maxBodyBytes) {
        return MHD_NO;  // a body longer than announced (chunked): drop the connection
      }
      state->body.append(uploadData, *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    THttpRequest& request = state->request;
    if (!state->body.empty() && IsFormBody(request.Header("Content-Type"))) {
      for (auto& param : ParseUrlEncoded(state->body)) {
        request.params.push_back(std::move(param));
      }
    }
    self->MarkReceived(connection);
    THttpResponse answer;
    self->RunHandler(*state, answer, false);
    return self->Answer(connection, answer, request.method == THttpMethod::hmHead);
  }
};

THttpServer::THttpServer(IHttpHandler& handler, THttpServerLimits limits)
    : impl_(std::make_unique<Impl>(handler, limits)) {}

THttpServer::~THttpServer() {
  Stop();
}

bool THttpServer::Active() const {
  return impl_->daemon != nullptr;
}

uint16_t THttpServer::Port() const {
  return impl_->daemon != nullptr ? impl_->port : 0;
}

void THttpServer::Start(const THttpBinding& binding) {
  Impl& d = *impl_;
  if (d.daemon != nullptr) {
    return;
  }
  sockaddr_storage address{};
  bool haveAddress = false;
  bool ipv6 = false;
  if (!binding.address.empty()) {
    std::string host = binding.address;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
      throw Error("Cannot resolve address \"" + binding.address + "\": " + gai_strerror(rc));
    }
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    ipv6 = address.ss_family == AF_INET6;
    if (ipv6) {
      reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(binding.port);
    } else {
      reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(binding.port);
    }
    haveAddress = true;
  }

  {
    std::lock_guard<std::mutex> lock(d.watchMutex);
    d.stopping = false;
  }
  auto open = [&](unsigned flags) {
    {
      std::lock_guard<std::mutex> lock(d.logMutex);
      d.capturing = true;
      d.lastLibraryError.clear();
    }
    errno = 0;
    MHD_Daemon* daemon = MHD_start_daemon(
        flags, binding.port, nullptr, nullptr, &Impl::Access, &d, MHD_OPTION_EXTERNAL_LOGGER,
        &Impl::Log, &d, MHD_OPTION_URI_LOG_CALLBACK, &Impl::UriLog, &d, MHD_OPTION_NOTIFY_COMPLETED,
        &Impl::Completed, &d, MHD_OPTION_NOTIFY_CONNECTION, &Impl::NotifyConnection, &d,
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(d.limits.maxConnections),
        MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        static_cast<unsigned>(d.limits.maxConnectionsPerAddress), MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(d.limits.idleTimeoutSeconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        d.limits.connectionMemoryBytes, MHD_OPTION_THREAD_STACK_SIZE, d.limits.threadStackBytes,
        MHD_OPTION_SOCK_ADDR, haveAddress ? reinterpret_cast<sockaddr*>(&address) : nullptr,
        MHD_OPTION_END);
    const int error = errno;
    std::lock_guard<std::mutex> lock(d.logMutex);
    d.capturing = false;
    if (daemon == nullptr && d.lastLibraryError.empty() && error != 0) {
      d.lastLibraryError = std::strerror(error);
    }
    return daemon;
  };
  const unsigned base = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                        MHD_USE_ERROR_LOG | MHD_USE_POLL;
  MHD_Daemon* daemon = nullptr;
  if (haveAddress) {
    daemon = open(base | (ipv6 ? static_cast<unsigned>(MHD_USE_IPv6) : 0u));
  } else {
    // Every local address: IPv6 and IPv4 together, or IPv4 alone on a system without IPv6.
    daemon = open(base | static_cast<unsigned>(MHD_USE_DUAL_STACK));
    if (daemon == nullptr) {
      daemon = open(base);
    }
  }
  if (daemon == nullptr) {
    std::string where = binding.address.empty()
                            ? "port " + std::to_string(binding.port)
                            : binding.address + ":" + std::to_string(binding.port);
    throw Error("Could not bind to " + where +
                (d.lastLibraryError.empty() ? std::string() : ": " + d.lastLibraryError));
  }
  d.daemon = daemon;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  d.port = info != nullptr ? info->port : binding.port;
  d.watchdog = std::thread([&d] { d.Watchdog(); });
}

void THttpServer::Stop(const std::function<void()>& whileWaiting) {
  Impl& d = *impl_;
  if (d.daemon == nullptr) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(d.watchMutex);
    d.stopping = true;
  }
  d.watchCv.notify_all();
  // The library joins the connection threads; a handler may be waiting for the caller's thread
  // meanwhile, so the join runs on a helper thread while this one keeps serving.
  std::atomic<bool> done{false};
  MHD_Daemon* daemon = d.daemon;
  std::thread stopper([daemon, &done] {
    MHD_stop_daemon(daemon);
    done.store(true, std::memory_order_release);
  });
  while (!done.load(std::memory_order_acquire)) {
    if (whileWaiting) {
      whileWaiting();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stopper.join();
  d.daemon = nullptr;
  d.port = 0;
  if (d.watchdog.joinable()) {
    d.watchdog.join();
  }
}

size_t THttpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(impl_->watchMutex);
  return impl_->watches.size();
}

void THttpServer::InterruptibleSleep(uint64_t ms) {
  Impl& d = *impl_;
  std::unique_lock<std::mutex> lock(d.watchMutex);
  d.watchCv.wait_for(lock, std::chrono::milliseconds(ms), [&d] { return d.stopping; });
}

}  // namespace velloran::web
