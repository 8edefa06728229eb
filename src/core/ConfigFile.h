#pragma once
// INI configuration file with the profile-file semantics the program relies on:
// - "[name]" opens a section; "key=value" (first '=' separates); sections and keys match
//   ignoring letter case; values are plain text, no quoting or escapes.
// - A read returns the default only when the key is absent; a present empty value reads as "".
// - Integers: decimal, or hexadecimal after "0x"/"0X" or "$"; anything else reads as the default.
// - Bool keys: written "1"/"0"; any integer other than 0 reads true; a non-integer, the default.
// - At most 2047 characters of a value are seen.
// - Every write goes to the file at once; a missing file or section is created by the first
//   write; a write the file system refuses raises ConfigWriteError "Unable to write to %s".
// The file is read once when opened; there is no reload.
// Thread contract: every member may be called from any thread; one internal mutex serialises
// them (held across the file write).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Error.h"

namespace velloran {

class ConfigWriteError : public Error {
 public:
  using Error::Error;
};

class ConfigFile {
 public:
  static constexpr size_t kMaxValueLength = 2047;

  // Opens (reads) the file if it exists; does not create it.
  explicit ConfigFile(std::string fileName);
  ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> ReadSections() const;
  std::vector<std::string> ReadSectionKeys(const std::string& section) const;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void DeleteKey(const std::string& section, const std::string& key);
  void EraseSection(const std::string& section);
  // Makes sure everything written so far is on disk (writes are already write-through).
  void UpdateFile();

 private:
  struct Impl;
  std::string fileName_;
  std::unique_ptr<Impl> impl_;
  mutable std::mutex mutex_;
};

// Parses an integer the way the configuration file does (decimal, "0x"/"$" hexadecimal,
// optional sign, surrounding blanks ignored). Returns false when the text is not an integer
// or does not fit in 32 bits.
bool TryParseConfigInteger(const std::string& text, int32_t& value);

}  // namespace velloran
