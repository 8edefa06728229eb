#pragma once
// INI configuration file with the profile-file semantics the program relies on:
// - "[name]" opens a section; "key=value" (first '=' separates); sections and keys match
//   ignoring letter case; values are plain text, no quoting or escapes.
// - A read returns the default only when the key is absent; a present empty value reads as "".
// - Integers: decimal, or hexadecimal after "0x"/"0X" or "$"; anything else reads as the default.
// - Bool keys: written "1"/"0"; any integer other than 0 reads true; a non-integer, the default.
// - At most 2047 characters of a value are seen.
// - Every write goes to the file at once (atomically: written to a temporary file that is then
//   renamed over the old one); a missing file or section is created by the first write; a write
//   the file system refuses raises ConfigWriteError "Unable to write to %s". BeginUpdate and
//   EndUpdate collect many writes into one.
// The file is read once when opened; there is no reload.
// Thread contract: every member may be called from any thread; one internal mutex serialises
// them (held across the file write).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
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

  // Many writes in one pass (closing every slot): between BeginUpdate and the matching
  // EndUpdate (pairs may nest) the writes change what readers see but not the file; the last
  // EndUpdate writes the file once, atomically (a temporary file renamed over the old one), so
  // the file on disk is the old or the new one, never a mix. A refused write is raised by that
  // EndUpdate as ConfigWriteError; the values stay changed in memory. ScopedConfigUpdate pairs
  // them.
  void BeginUpdate();
  void EndUpdate();

 private:
  struct Impl;
  static void SetValue(Impl& changed, const std::string& section, const std::string& key,
                       const std::string& value);

  std::string fileName_;
  std::unique_ptr<Impl> impl_;
  mutable std::mutex mutex_;
  int updating_ = 0;    // open BeginUpdate calls
  bool dirty_ = false;  // writes collected since the first of them
};

// BeginUpdate now, EndUpdate at Commit or when the object goes (a refused write is then lost
// silently: call Commit to hear of it).
class ScopedConfigUpdate {
 public:
  explicit ScopedConfigUpdate(ConfigFile& config) : config_(&config) { config.BeginUpdate(); }
  ~ScopedConfigUpdate() {
    try {
      Commit();
    } catch (const ConfigWriteError&) {
    }
  }
  ScopedConfigUpdate(const ScopedConfigUpdate&) = delete;
  ScopedConfigUpdate& operator=(const ScopedConfigUpdate&) = delete;
  // Ends the update: writes the file (raises ConfigWriteError when it is refused).
  void Commit() {
    ConfigFile* config = std::exchange(config_, nullptr);
    if (config != nullptr) {
      config->EndUpdate();
    }
  }

 private:
  ConfigFile* config_;
};

// Parses an integer the way the configuration file does (decimal, "0x"/"$" hexadecimal,
// optional sign, surrounding blanks ignored). Returns false when the text is not an integer
// or does not fit in 32 bits.
bool TryParseConfigInteger(const std::string& text, int32_t& value);

}  // namespace velloran
