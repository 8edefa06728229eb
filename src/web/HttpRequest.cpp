#include "web/HttpRequest.h"

namespace velloran::web {

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') {
      x = static_cast<unsigned char>(x - 'A' + 'a');
    }
    if (y >= 'A' && y <= 'Z') {
      y = static_cast<unsigned char>(y - 'A' + 'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

std::string THttpRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : params) {
    if (SameTextAscii(key, name)) {
      return value;
    }
  }
  return std::string();
}

bool THttpRequest::HasParam(const std::string& name) const {
  for (const auto& param : params) {
    if (SameTextAscii(param.first, name)) {
      return true;
    }
  }
  return false;
}

std::string THttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (SameTextAscii(key, name)) {
      return value;
    }
  }
  return std::string();
}

THttpMethod MethodFromName(const std::string& name) {
  if (name == "GET") {
    return THttpMethod::hmGet;
  }
  if (name == "HEAD") {
    return THttpMethod::hmHead;
  }
  if (name == "POST") {
    return THttpMethod::hmPost;
  }
  return THttpMethod::hmOther;
}

}  // namespace velloran::web
