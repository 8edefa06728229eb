#include "audio/alsa/AlsaDeviceList.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/alsa/AlsaSetup.h"

namespace velloran::audio::alsa {

namespace {

using List = std::vector<std::unique_ptr<AlsaCaptureDevice>>;

struct State {
  std::mutex mutex;
  bool taken = false;
  List current;
  List retired;  // kept so that texts handed out earlier stay valid
};

State& TheState() {
  static State state;
  return state;
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
  List fresh = Enumerate();
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  // Numbers stay stable: a known PCM keeps its number, a new one is appended, one that has
  // gone stays listed as absent. So a number taken earlier never names another device.
  std::vector<bool> seen(state.current.size(), false);
  for (auto& d : fresh) {
    size_t n = 0;
    while (n < state.current.size() && state.current[n]->pcmName != d->pcmName) {
      ++n;
    }
    if (n == state.current.size()) {
      state.current.push_back(std::move(d));
      seen.push_back(true);
    } else {
      state.retired.push_back(std::move(state.current[n]));
      state.current[n] = std::move(d);
      seen[n] = true;
    }
  }
  for (size_t n = 0; n < seen.size(); ++n) {
    if (!seen[n] && state.current[n]->present) {
      auto gone = std::make_unique<AlsaCaptureDevice>(*state.current[n]);
      gone->present = false;
      state.retired.push_back(std::move(state.current[n]));
      state.current[n] = std::move(gone);
    }
  }
  state.taken = true;
}

const AlsaCaptureDevice* AlsaDeviceList::Get(size_t n) {
  State& state = TheState();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.taken) {
      return n < state.current.size() ? state.current[n].get() : nullptr;
    }
  }
  Refresh();
  std::lock_guard<std::mutex> lock(state.mutex);
  return n < state.current.size() ? state.current[n].get() : nullptr;
}

size_t AlsaDeviceList::Count() {
  Get(0);
  State& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.current.size();
}

}  // namespace velloran::audio::alsa
