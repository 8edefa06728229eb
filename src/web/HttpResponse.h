#pragma once
// One HTTP answer as the handler fills it; the HTTP layer turns it into the bytes on the wire.
//   - status and reason (the layer's reason phrase unless one is set), content type, a text body
//     or a stream body (the layer writes and frees it);
//   - extra header lines, Content-Disposition, Accept-Ranges, Content-Range (first, last,
//     complete length);
//   - a realm: the answer becomes 401 with a Basic challenge for it and a short HTML body;
//   - a redirect: 302 with a Location header;
//   - ServeFile: a local file with its MIME type, Content-Length and, unless a disposition is
//     already set, "attachment" with the file name.
// An answer with a body but no content type goes out as "text/html; charset=ISO-8859-1"; one
// without body has Content-Length 0. Header values never carry a line break: the layer drops
// control characters from every value, and file names in a disposition are made safe.
// Thread contract: a plain value owned by one connection thread.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "web/BodyStream.h"

namespace velloran::web {

inline constexpr const char* kDefaultContentType = "text/html; charset=ISO-8859-1";

class THttpResponse {
 public:
  int status = 200;
  std::string reason;       // empty: the layer's phrase for the status
  std::string contentType;  // empty: the default when there is a body
  std::string body;         // text body (ignored when a stream is set)
  std::unique_ptr<TBodyStream> stream;
  std::vector<std::pair<std::string, std::string>> extraHeaders;
  std::string contentDisposition;
  std::string acceptRanges;
  int64_t contentRangeFirst = -1;  // Content-Range is sent when the complete length is >= 0
  int64_t contentRangeLast = -1;
  int64_t contentRangeLength = -1;
  std::string authRealm;  // non-empty: 401 with a Basic challenge
  std::string redirect;   // non-empty: 302 to this location

  void SetText(std::string text) {
    stream.reset();
    body = std::move(text);
  }
  void SetStream(std::unique_ptr<TBodyStream> s) { stream = std::move(s); }
  void Redirect(const std::string& location) { redirect = location; }
  // Opens the file (velloran::Error when it cannot) and makes it the body.
  void ServeFile(const std::string& path);
  // The failure answer: status 500 "Error", the message as text body; a stream chosen before
  // is dropped, the content type stays.
  void Fail(const std::string& message);

  bool HasBody() const { return stream ? stream->Size() != 0 : !body.empty(); }
};

// The value with every control character (below 0x20 except tab, and 0x7F) removed, so that it
// can never end a header line.
std::string SanitizeHeaderValue(const std::string& value);
// "attachment" with the file name of path: a plain filename parameter in which quotes,
// backslashes, control and non-ASCII characters are replaced by "_", and the exact name as
// UTF-8 in a filename* parameter.
std::string AttachmentDisposition(const std::string& path);

}  // namespace velloran::web
