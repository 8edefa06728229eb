#include "core/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/TrimBlanks.h"

namespace velloran {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Line breaks inside a name or value would split the line on the next read and could inject
// keys; they are written as blanks.
std::string OneLine(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c == '\r' || c == '\n') {
      c = ' ';
    }
  }
  return out;
}

// Section and key names as stored and looked up: no line breaks, no surrounding blanks.
std::string NormalName(const std::string& s) {
  return TrimBlanks(OneLine(s));
}

// At most kMaxValueLength characters of a value are seen; a cut never splits a UTF-8 sequence.
std::string Visible(const std::string& value) {
  if (value.size() <= ConfigFile::kMaxValueLength) {
    return value;
  }
  size_t n = ConfigFile::kMaxValueLength;
  while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) {
    --n;
  }
  return value.substr(0, n);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return path.substr(0, slash);
}

}  // namespace

// One line of the file. Entries keep their parsed key and value; every other line (comments,
// blank lines, text without '=') is kept as it stands so that a rewrite preserves it.
struct Line {
  bool entry = false;
  std::string key;
  std::string value;  // as seen by readers (surrounding blanks removed)
  std::string raw;    // the text written to the file
};

struct Section {
  std::string name;
  std::vector<Line> lines;
};

struct ConfigFile::Impl {
  std::vector<std::string> preamble;  // lines before the first section
  std::vector<Section> sections;

  const Section* Find(const std::string& query) const {
    const std::string name = NormalName(query);
    for (const Section& s : sections) {
      if (SameName(s.name, name)) {
        return &s;
      }
    }
    return nullptr;
  }
  Section* Find(const std::string& name) {
    return const_cast<Section*>(static_cast<const Impl*>(this)->Find(name));
  }
  static const Line* FindKey(const Section& s, const std::string& query) {
    const std::string key = NormalName(query);
    for (const Line& l : s.lines) {
      if (l.entry && SameName(l.key, key)) {
        return &l;
      }
    }
    return nullptr;
  }
  const Line* FindValue(const std::string& section, const std::string& key) const {
    const Section* s = Find(section);
    return s != nullptr ? FindKey(*s, key) : nullptr;
  }

  void Parse(std::istream& in) {
    std::string text;
    Section* current = nullptr;
    while (std::getline(in, text)) {
      if (!text.empty() && text.back() == '\r') {
        text.pop_back();
      }
      const std::string trimmed = TrimBlanks(text);
      if (!trimmed.empty() && trimmed.front() == '[') {
        size_t close = trimmed.find(']');
        if (close == std::string::npos) {
          close = trimmed.size();
        }
        sections.push_back(Section{NormalName(trimmed.substr(1, close - 1)), {}});
        current = &sections.back();
        continue;
      }
      if (current == nullptr) {
        preamble.push_back(text);
        continue;
      }
      Line line;
      line.raw = text;
      const size_t eq = text.find('=');
      if (eq != std::string::npos && trimmed.front() != ';') {
        line.entry = true;
        line.key = NormalName(text.substr(0, eq));
        line.value = TrimBlanks(text.substr(eq + 1));
      }
      current->lines.push_back(std::move(line));
    }
  }

  std::string Serialise() const {
    std::string out;
    for (const std::string& l : preamble) {
      out += l;
      out += '\n';
    }
    for (const Section& s : sections) {
      out += '[';
      out += s.name;
      out += "]\n";
      for (const Line& l : s.lines) {
        out += l.raw;
        out += '\n';
      }
    }
    return out;
  }
};

ConfigFile::ConfigFile(std::string fileName)
    : fileName_(std::move(fileName)), impl_(std::make_unique<Impl>()) {
  std::ifstream in(fileName_, std::ios::binary);
  if (in) {
    impl_->Parse(in);
  }
}

ConfigFile::~ConfigFile() = default;

bool ConfigFile::SectionExists(const std::string& section) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impl_->Find(section) != nullptr;
}

bool ConfigFile::ValueExists(const std::string& section, const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impl_->FindValue(section, key) != nullptr;
}

std::vector<std::string> ConfigFile::ReadSections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const Section& s : impl_->sections) {
    if (impl_->Find(s.name) == &s) {
      names.push_back(s.name);
    }
  }
  return names;
}

std::vector<std::string> ConfigFile::ReadSectionKeys(const std::string& section) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> keys;
  const Section* s = impl_->Find(section);
  if (s != nullptr) {
    for (const Line& l : s->lines) {
      if (l.entry && Impl::FindKey(*s, l.key) == &l) {
        keys.push_back(l.key);
      }
    }
  }
  return keys;
}

std::string ConfigFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& def) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Line* l = impl_->FindValue(section, key);
  return l != nullptr ? Visible(l->value) : def;
}

int32_t ConfigFile::ReadInteger(const std::string& section, const std::string& key,
                                int32_t def) const {
  int32_t v = 0;
  return TryParseConfigInteger(ReadString(section, key, ""), v) ? v : def;
}

bool ConfigFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  int32_t v = 0;
  return TryParseConfigInteger(ReadString(section, key, ""), v) ? v != 0 : def;
}

namespace {

// Writes the whole file: a temporary file in the same folder, flushed to disk, then renamed
// over the original. A read-only file or a missing folder is refused before anything is
// touched; the read-only mark (no write permission bit) is honoured even for root.
bool WriteFileSafely(const std::string& fileName, const std::string& content) {
  const std::string dir = DirectoryOf(fileName);
  struct stat dirStat {};
  if (stat(dir.c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode)) {
    return false;
  }
  std::string target = fileName;
  mode_t mode = 0;
  struct stat fileStat {};
  if (stat(fileName.c_str(), &fileStat) == 0) {
    if (!S_ISREG(fileStat.st_mode) || access(fileName.c_str(), W_OK) != 0 ||
        (fileStat.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      return false;
    }
    mode = fileStat.st_mode & 07777;
    // Keep a symbolic link in place: replace the file it points to.
    char resolved[PATH_MAX];
    if (realpath(fileName.c_str(), resolved) != nullptr) {
      target = resolved;
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  std::string tmpName = target + ".XXXXXX";
  const int fd = mkstemp(tmpName.data());
  if (fd < 0) {
    return false;
  }
  bool ok = fchmod(fd, mode) == 0;
  size_t done = 0;
  while (ok && done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    ok = n > 0;
    if (ok) {
      done += static_cast<size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(tmpName.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(tmpName.c_str());
    return false;
  }
  const int dirFd = open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

}  // namespace

void ConfigFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (updating_ > 0) {
    SetValue(*impl_, section, key, value);
    dirty_ = true;
    return;
  }
  Impl changed = *impl_;
  SetValue(changed, section, key, value);
  if (!WriteFileSafely(fileName_, changed.Serialise())) {
    throw ConfigWriteError("Unable to write to " + fileName_);
  }
  *impl_ = std::move(changed);
}

void ConfigFile::SetValue(Impl& changed, const std::string& section, const std::string& key,
                          const std::string& value) {
  const std::string cleanSection = NormalName(section);
  const std::string cleanKey = NormalName(key);
  const std::string cleanValue = OneLine(value);
  Section* s = changed.Find(cleanSection);
  if (s == nullptr) {
    changed.sections.push_back(Section{cleanSection, {}});
    s = &changed.sections.back();
  }
  Line line;
  line.entry = true;
  line.key = cleanKey;
  line.value = TrimBlanks(cleanValue);
  line.raw = cleanKey + "=" + cleanValue;
  Line* existing = const_cast<Line*>(Impl::FindKey(*s, cleanKey));
  if (existing != nullptr) {
    line.key = existing->key;
    line.raw = existing->key + "=" + cleanValue;
    *existing = std::move(line);
  } else {
    // A new key goes after the last entry, before trailing blank lines and comments.
    auto pos = s->lines.end();
    while (pos != s->lines.begin() && !(pos - 1)->entry) {
      --pos;
    }
    s->lines.insert(pos, std::move(line));
  }
}

void ConfigFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void ConfigFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void ConfigFile::DeleteKey(const std::string& section, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (impl_->FindValue(section, key) == nullptr) {
    return;
  }
  Impl copy;
  if (updating_ == 0) {
    copy = *impl_;
  }
  Impl& changed = updating_ > 0 ? *impl_ : copy;
  for (Section& s : changed.sections) {
    if (SameName(s.name, NormalName(section))) {
      auto it = std::find_if(s.lines.begin(), s.lines.end(), [&](const Line& l) {
        return l.entry && SameName(l.key, NormalName(key));
      });
      if (it != s.lines.end()) {
        s.lines.erase(it);
      }
      break;
    }
  }
  if (updating_ > 0) {
    dirty_ = true;
    return;
  }
  if (!WriteFileSafely(fileName_, changed.Serialise())) {
    throw ConfigWriteError("Unable to write to " + fileName_);
  }
  *impl_ = std::move(changed);
}

void ConfigFile::EraseSection(const std::string& section) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (impl_->Find(section) == nullptr) {
    return;
  }
  const auto named = [&](const Section& s) { return SameName(s.name, NormalName(section)); };
  if (updating_ > 0) {
    std::erase_if(impl_->sections, named);
    dirty_ = true;
    return;
  }
  Impl changed = *impl_;
  std::erase_if(changed.sections, named);
  if (!WriteFileSafely(fileName_, changed.Serialise())) {
    throw ConfigWriteError("Unable to write to " + fileName_);
  }
  *impl_ = std::move(changed);
}

void ConfigFile::UpdateFile() {
  // Every write already reached the disk (written, flushed and renamed into place), except
  // those collected by BeginUpdate, which EndUpdate writes.
}

void ConfigFile::BeginUpdate() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++updating_;
}

void ConfigFile::EndUpdate() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (updating_ == 0 || --updating_ > 0 || !dirty_) {
    return;
  }
  dirty_ = false;
  if (!WriteFileSafely(fileName_, impl_->Serialise())) {
    throw ConfigWriteError("Unable to write to " + fileName_);
  }
}

bool TryParseConfigInteger(const std::string& text, int32_t& value) {
  const std::string t = TrimBlanks(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) {
    return false;
  }
  uint64_t magnitude = 0;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    }
    if (digit < 0) {
      return false;
    }
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) {
      return false;
    }
  }
  int64_t v = 0;
  if (hex) {
    // Hexadecimal text names the 32-bit pattern: $FFFFFFFF is -1.
    v = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    v = negative ? -v : v;
  } else {
    v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  }
  if (v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  value = static_cast<int32_t>(v);
  return true;
}

}  // namespace velloran
