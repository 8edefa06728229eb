#pragma once
// The MIME table of the web server: content type by file extension (letter case ignored).
// Unknown extensions give application/octet-stream. Besides the page types (html, css, a
// JavaScript type that browsers accept for ES modules, pictures, fonts) it maps the recording
// extensions to audio types that browsers play; a slot with a custom encoder extension adds its
// own with Register.
// Thread contract: any thread; one process-wide table whose mutex is held for each lookup and
// each registration.
#include <string>

namespace velloran::web {

class TMimeTable {
 public:
  // The process-wide table.
  static TMimeTable& Instance();

  // Content type of a file name or path by its extension.
  std::string Lookup(const std::string& fileName) const;
  // Adds or replaces the type of an extension (with or without its leading ".").
  void Register(const std::string& extension, const std::string& contentType);

 private:
  TMimeTable();
  struct State;
  State* state_;
};

// TMimeTable::Instance().Lookup(fileName).
std::string MimeTypeForFile(const std::string& fileName);

}  // namespace velloran::web
