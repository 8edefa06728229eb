// Fuzzes the INI reader (any file content) and the rewrite that follows a write.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "core/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = velloran::fuzz::ScratchPath("ini", ".ini");
  velloran::fuzz::WriteScratch(path, data, size);
  {
    velloran::ConfigFile ini(path);
    std::string firstSection;
    std::string firstKey;
    for (const std::string& section : ini.ReadSections()) {
      if (!ini.SectionExists(section)) {
        std::abort();  // every listed section must be found again
      }
      for (const std::string& key : ini.ReadSectionKeys(section)) {
        if (!ini.ValueExists(section, key)) {
          std::abort();
        }
        const std::string value = ini.ReadString(section, key, "");
        if (value.size() > velloran::ConfigFile::kMaxValueLength) {
          std::abort();
        }
        ini.ReadInteger(section, key, 0);
        ini.ReadBool(section, key, false);
        if (firstKey.empty()) {
          firstSection = section;
          firstKey = key;
        }
      }
    }
    // Now and then rewrite the file and check a second reader sees the written value.
    if (size % 8 == 0) {
      const std::string section = firstSection.empty() ? "Fuzz" : firstSection;
      const std::string key = firstKey.empty() ? "Key" : firstKey;
      try {
        ini.WriteString(section, key, "written");
        velloran::ConfigFile reader(path);
        if (reader.ReadString(section, key, "") != "written") {
          std::abort();
        }
      } catch (const velloran::ConfigWriteError&) {
        std::abort();  // the temp folder is writable
      }
    }
  }
  unlink(path.c_str());
  return 0;
}
