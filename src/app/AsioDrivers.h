#pragma once
// The ASIO drivers of the device catalogue as the settings keep them: parameters and bundle
// layout of each driver, in catalogue order, for the ASIO page and FlushGlobalConfig.
// Thread contract: main thread (the catalogue's lists are fixed after it was built).
#include <vector>

#include "app/GlobalSettings.h"

namespace velloran::audio {
class DeviceCatalogue;
}

namespace velloran::app {

std::vector<AsioDriverSettings> AsioDriversFromCatalogue(const audio::DeviceCatalogue& catalogue);

}  // namespace velloran::app
