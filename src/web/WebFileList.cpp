#include "web/WebFileList.h"

#include "web/HttpRequest.h"

namespace velloran::web {

TWebFileList::TWebFileList(std::vector<TWebFile> files) : files_(std::move(files)) {}

const TWebFile* TWebFileList::Find(const std::string& path) const {
  for (const TWebFile& file : files_) {
    if (SameTextAscii(file.path, path)) {
      return &file;
    }
  }
  return nullptr;
}

std::string TWebFileList::AsText() const {
  std::string text;
  for (const TWebFile& file : files_) {
    text += file.path + "=" + file.resourceName + "\r\n";
  }
  return text;
}

const TWebFileList& TWebFileList::BuiltIn() {
  static const TWebFileList* list = new TWebFileList(BuiltInWebFileTable());
  return *list;
}

std::string WebResourceName(const std::string& path) {
  std::string name = "web";
  for (char c : path) {
    if (c == '/') {
      name += "___";
    } else if (c == '.') {
      name += "__";
    } else if (c == '-') {
      name += "_";
    } else {
      name.push_back(c);
    }
  }
  return name;
}

void LoadWebFileList() {
  TWebFileList::BuiltIn();
}

}  // namespace velloran::web
