#pragma once
// The entry point of an audio plug-in: a shared object that exports
//   extern "C" const VelloranPluginInfo* velloran_plugin_info(void);
// returning a static description whose abi equals VELLORAN_PLUGIN_ABI. BASS_PluginLoad refuses
// any other file (BASS_ERROR_FILEFORM; BASS_ERROR_VERSION for another abi).
//
// Thread contract: plain declarations.
#include <cstdint>

extern "C" {

#define VELLORAN_PLUGIN_ABI 1u
#define VELLORAN_PLUGIN_ENTRY "velloran_plugin_info"

typedef struct {
  uint32_t abi;      // VELLORAN_PLUGIN_ABI
  uint32_t version;  // the plug-in's own version number
  const char* name;  // display name
} VelloranPluginInfo;

typedef const VelloranPluginInfo* (*VelloranPluginInfoProc)(void);

}  // extern "C"
