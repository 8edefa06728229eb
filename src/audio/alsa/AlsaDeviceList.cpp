#include "audio/alsa/AlsaDeviceList.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/StableDeviceList.h"
#include "audio/alsa/AlsaSetup.h"

namespace velloran::audio::alsa {

namespace {

using List = std::vector<std::unique_ptr<AlsaCaptureDevice>>;

StableDeviceList<AlsaCaptureDevice>& TheList() {
  static StableDeviceList<AlsaCaptureDevice> list;
  return list;
}

std::string HintText(void* hint, const char* id) {
  char* text = snd_device_name_get_hint(hint, id);
  if (text == nullptr) {
    return {};
  }
  std::string result(text);
  free(text);
  return result;
}

List Enumerate() {
  PrepareAlsa();
  List list;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) {
    return list;
  }
  for (void** hint = hints; *hint != nullptr; ++hint) {
    const std::string name = HintText(*hint, "NAME");
    const std::string ioid = HintText(*hint, "IOID");
    if (name.empty() || !(ioid.empty() || ioid == "Input")) {
      continue;
    }
    std::string desc = HintText(*hint, "DESC");
    desc = desc.substr(0, desc.find('\n'));
    auto device = std::make_unique<AlsaCaptureDevice>();
    device->pcmName = name;
    device->description = desc.empty() ? name : desc;
    device->isDefault = name == "default";
    list.push_back(std::move(device));
  }
  snd_device_name_free_hint(hints);
  // Several PCMs of one card share a description; their names tell them apart.
  for (auto& device : list) {
    const auto same = std::count_if(list.begin(), list.end(), [&](const auto& other) {
      return other->description == device->description ||
             other->description.rfind(device->description + " (", 0) == 0;
    });
    if (same > 1 && device->description != device->pcmName) {
      device->description += " (" + device->pcmName + ")";
    }
  }
  return list;
}

}  // namespace

void AlsaDeviceList::Refresh() {
  TheList().Merge(
      Enumerate(),
      [](const AlsaCaptureDevice& a, const AlsaCaptureDevice& b) { return a.pcmName == b.pcmName; },
      [](AlsaCaptureDevice&) {});
}

const AlsaCaptureDevice* AlsaDeviceList::Get(size_t n) {
  return TheList().Get(n, Refresh);
}

size_t AlsaDeviceList::Count() {
  Get(0);
  return TheList().Size();
}

}  // namespace velloran::audio::alsa
