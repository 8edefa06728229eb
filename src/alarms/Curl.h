#pragma once
// The libcurl plumbing shared by the alarm calls and the e-mails: one process-wide
// initialisation before the first transfer, owning handles, and option setting that raises.
// Thread contract: any thread; InitCurlOnce may be called concurrently (it runs the library's
// global initialisation exactly once).
#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>

#include "core/Error.h"

namespace velloran::alarms {

inline void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

// curl_easy_setopt that raises velloran::Error (what + libcurl's text) when refused.
template <typename T>
void SetCurlOption(CURL* curl, CURLoption option, T value, const char* what) {
  const CURLcode code = curl_easy_setopt(curl, option, value);
  if (code != CURLE_OK) {
    throw Error(std::string(what) + curl_easy_strerror(code));
  }
}

}  // namespace velloran::alarms
