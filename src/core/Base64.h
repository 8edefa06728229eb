#pragma once
// The program's one base64 encoder (RFC 4648, standard alphabet, '=' padding): HTTP Basic
// credentials for stream servers and e-mail header words. Decoding lives with the web server's
// request parsing, which must reject what is not strict base64.
// Thread contract: pure function, any thread.
#include <string>
#include <string_view>

namespace velloran {

std::string Base64Encode(std::string_view bytes);

}  // namespace velloran
