#include "audio/devices/DeviceCatalogue.h"

#include <strings.h>

#include "audio/bassasio.h"
#include "audio/basswasapi.h"

namespace velloran::audio {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

const std::string kEmpty;

}  // namespace

DeviceCatalogue::~DeviceCatalogue() {
  // The catalogue list first, then the family lists with their entries.
  entries_.clear();
  wdm_.clear();
  asio_.clear();
  wasapi_.clear();
  generators_.clear();
}

void DeviceCatalogue::Add(std::string identifier, TDeviceInfo* entry) {
  entries_.emplace_back(std::move(identifier), entry);
}

int DeviceCatalogue::IndexOf(std::string_view identifier) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (EqualNoCase(entries_[i].first, identifier)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

const std::string& DeviceCatalogue::Identifier(int index) const {
  if (index < 0 || index >= Count()) {
    return kEmpty;
  }
  return entries_[static_cast<size_t>(index)].first;
}

TDeviceInfo* DeviceCatalogue::Entry(int index) const {
  if (index < 0 || index >= Count()) {
    return nullptr;
  }
  return entries_[static_cast<size_t>(index)].second;
}

TDeviceInfo* DeviceCatalogue::Find(std::string_view identifier) const {
  return Entry(IndexOf(identifier));
}

TDeviceInfoWithClients* DeviceCatalogue::FindCapture(std::string_view identifier) const {
  return dynamic_cast<TDeviceInfoWithClients*>(Find(identifier));
}

std::unique_ptr<DeviceCatalogue> BuildDeviceCatalogue(const ConfigFile& config) {
  auto catalogue = std::make_unique<DeviceCatalogue>();

  BASS_DEVICEINFO record{};
  for (DWORD n = 0; BASS_RecordGetDeviceInfo(n, &record); ++n) {
    const std::string name = record.name != nullptr ? record.name : "";
    auto entry = std::make_unique<TWDMDeviceInfo>(static_cast<int32_t>(n), "WDM: " + name);
    catalogue->Add("WDM:" + std::to_string(n), entry.get());
    catalogue->wdm_.push_back(std::move(entry));
  }

  BASS_ASIO_DEVICEINFO asioDevice{};
  for (DWORD n = 0; BASS_ASIO_GetDeviceInfo(n, &asioDevice); ++n) {
    if (!BASS_ASIO_Init(static_cast<int>(n), 0)) {
      continue;
    }
    BASS_ASIO_INFO info{};
    if (BASS_ASIO_GetInfo(&info)) {
      auto driver = std::make_unique<TASIODeviceInfo>(static_cast<int32_t>(n), asioDevice, info);
      driver->ReadConfiguration(config);
      for (const auto& bundle : driver->SubDevices()) {
        catalogue->Add("ASIO:" + std::to_string(n) + ":" + std::to_string(bundle->Index()) + ":" +
                           std::to_string(bundle->ChannelCount()),
                       bundle.get());
      }
      catalogue->asio_.push_back(std::move(driver));
    }
    BASS_ASIO_Free();
  }

  BASS_WASAPI_DEVICEINFO endpoint{};
  for (DWORD n = 0; BASS_WASAPI_GetDeviceInfo(n, &endpoint); ++n) {
    const DWORD wanted = BASS_DEVICE_ENABLED | BASS_DEVICE_INPUT;
    if ((endpoint.flags & wanted) != wanted) {
      continue;
    }
    const std::string name = endpoint.name != nullptr ? endpoint.name : "";
    const std::string id = endpoint.id != nullptr ? endpoint.id : "";
    auto entry = std::make_unique<TWASAPIDeviceInfo>(static_cast<int32_t>(n), "WASAPI: " + name);
    catalogue->Add("WASAPI:" + id, entry.get());
    catalogue->wasapi_.push_back(std::move(entry));
  }

  const struct {
    generator::SignalKind kind;
    const char* id;
    const char* name;
  } kGenerators[] = {
      {generator::SignalKind::Tone, "GEN:tone", "Generator: 1 kHz tone"},
      {generator::SignalKind::Silence, "GEN:silence", "Generator: silence"},
      {generator::SignalKind::Ramp, "GEN:ramp", "Generator: ramp"},
  };
  int32_t index = 0;
  for (const auto& g : kGenerators) {
    auto entry = std::make_unique<TGeneratorDeviceInfo>(g.kind, index++, g.name);
    catalogue->Add(g.id, entry.get());
    catalogue->generators_.push_back(std::move(entry));
  }
  return catalogue;
}

}  // namespace velloran::audio
