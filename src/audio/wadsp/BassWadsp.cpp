// The DSP plug-in functions of the audio facade, on LADSPA plug-ins.
#include <atomic>
#include <vector>

#include "audio/bass_wadsp.h"
#include "audio/engine/HandleTable.h"
#include "audio/wadsp/LadspaLibrary.h"
#include "audio/wadsp/Wadsp.h"
#include "audio/wadsp/WadspPlugin.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::wadsp::LadspaLibrary;
using velloran::audio::wadsp::WadspPlugin;

namespace {

std::atomic<uint32_t> gInitCount{0};

std::shared_ptr<WadspPlugin> FindPlugin(HDSP plugin) {
  return HandleTable::Instance().FindAs<WadspPlugin>(plugin);
}

BOOL Result(int code) {
  SetLastError(code);
  return code == BASS_OK ? TRUE : FALSE;
}

}  // namespace

namespace velloran::audio::wadsp {

uint32_t InitCount() {
  return gInitCount.load();
}

uint64_t InvalidBlocks(uint32_t plugin) {
  auto found = FindPlugin(plugin);
  return found ? found->InvalidBlocks() : 0;
}

}  // namespace velloran::audio::wadsp

extern "C" {

BOOL BASS_WADSP_Init(void* /*win*/) {
  uint32_t expected = 0;
  if (!gInitCount.compare_exchange_strong(expected, 1)) {
    return Fail(BASS_ERROR_ALREADY, FALSE);
  }
  SetLastError(BASS_OK);
  return TRUE;
}

HDSP BASS_WADSP_Load(const char* file, int /*x*/, int /*y*/, int /*width*/, int /*height*/,
                     void* /*proc*/) {
  if (gInitCount.load() == 0) {
    return Fail(BASS_ERROR_INIT, HDSP{0});
  }
  if (file == nullptr || *file == '\0') {
    return Fail(BASS_ERROR_FILEOPEN, HDSP{0});
  }
  int error = BASS_OK;
  auto library = LadspaLibrary::Open(file, &error);
  if (!library) {
    return Fail(error, HDSP{0});
  }
  const HDSP handle = HandleTable::Instance().Add(std::make_shared<WadspPlugin>(library));
  if (handle == 0) {
    return Fail(BASS_ERROR_MEM, HDSP{0});
  }
  SetLastError(BASS_OK);
  return handle;
}

BOOL BASS_WADSP_Start(HDSP plugin, DWORD module, DWORD channel) {
  auto found = FindPlugin(plugin);
  if (!found) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  return Result(found->Start(module, channel));
}

HDSP BASS_WADSP_ChannelSetDSP(HDSP plugin, DWORD channel, int priority) {
  auto found = FindPlugin(plugin);
  if (!found) {
    return Fail(BASS_ERROR_HANDLE, HDSP{0});
  }
  uint32_t dsp = 0;
  const int code = found->SetDsp(channel, priority, &dsp);
  SetLastError(code);
  return code == BASS_OK ? dsp : 0;
}

BOOL BASS_WADSP_ChannelRemoveDSP(HDSP plugin) {
  auto found = FindPlugin(plugin);
  if (!found) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  return Result(found->RemoveDsp());
}

BOOL BASS_WADSP_FreeDSP(HDSP plugin) {
  auto object = HandleTable::Instance().Find(plugin);
  if (!std::dynamic_pointer_cast<WadspPlugin>(object)) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  auto removed = std::dynamic_pointer_cast<WadspPlugin>(HandleTable::Instance().Remove(plugin));
  if (!removed) {
    return Fail(BASS_ERROR_HANDLE, FALSE);  // freed meanwhile by another thread
  }
  removed->RemoveDsp();  // the instances end with the chain's last reference, here
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_WADSP_Config(HDSP plugin, BASS_WADSP_CONTROL* controls, DWORD count) {
  auto found = FindPlugin(plugin);
  if (!found) {
    return Fail(BASS_ERROR_HANDLE, static_cast<DWORD>(-1));
  }
  if (controls == nullptr && count > 0) {
    return Fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
  }
  std::vector<BASS_WADSP_CONTROL> list;
  found->Controls(&list);
  for (size_t i = 0; i < list.size() && i < count; ++i) {
    controls[i] = list[i];
  }
  SetLastError(BASS_OK);
  return static_cast<DWORD>(list.size());
}

BOOL BASS_WADSP_SetControl(HDSP plugin, DWORD index, float value) {
  auto found = FindPlugin(plugin);
  if (!found) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  return Result(found->SetControl(index, value));
}

}  // extern "C"
