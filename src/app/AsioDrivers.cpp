#include "app/AsioDrivers.h"

#include "audio/devices/DeviceCatalogue.h"

namespace velloran::app {

std::vector<AsioDriverSettings> AsioDriversFromCatalogue(const audio::DeviceCatalogue& catalogue) {
  std::vector<AsioDriverSettings> drivers;
  for (const auto& device : catalogue.ASIODevices()) {
    AsioDriverSettings driver;
    driver.index = device->Index();
    driver.sampleRate = device->SampleRate();
    driver.bufferSize = device->BufferSize();
    driver.threadCount = device->ThreadCount();
    for (int32_t channel = 0; channel < device->ChannelCount(); ++channel) {
      driver.bundles.push_back(device->GetChannelBundle(channel));
    }
    drivers.push_back(std::move(driver));
  }
  return drivers;
}

}  // namespace velloran::app
