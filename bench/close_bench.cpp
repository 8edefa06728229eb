// Closing many slots: 255 generator slots recording WAV, each writing its section back when it
// is freed. The close writes the configuration file once for all slots (batched); the peer run
// beside it writes it key by key, as single values are written at other times.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/ConfigFile.h"
#include "slots/TSlotList.h"

namespace {

namespace fs = std::filesystem;

void CloseSlots(benchmark::State& state, bool batched) {
  const int count = static_cast<int>(state.range(0));
  const fs::path root =
      fs::temp_directory_path() / ("velloran-close-bench-" + std::to_string(getpid()));
  fs::create_directories(root);
  {
    std::ofstream ini(root / "Velloran.ini");
    for (int i = 0; i < count; ++i) {
      ini << "[Slot" << i << "]\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nFolder="
          << (root / ("s" + std::to_string(i))).string()
          << "\nCleanupDaysEnabled=off\nCleanupSpaceEnabled=off\n";
    }
  }
  velloran::ConfigFile config((root / "Velloran.ini").string());
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  static const auto catalogue = velloran::audio::BuildDeviceCatalogue(config);
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<velloran::slots::TSlotList>(config, catalogue.get(), nullptr);
    for (int i = 0; i < count; ++i) {
      list->CreateSlot(i, false, nullptr);
    }
    list->CheckRotation();  // every slot has a file open
    state.ResumeTiming();
    if (batched) {
      velloran::ScopedConfigUpdate update(config);
      list->CloseRecordings();
      list.reset();
      update.Commit();
    } else {
      for (int i = 0; i < count; ++i) {
        list->DestroySlot(i);  // one after the other, as before
      }
    }
  }
  fs::remove_all(root);
}

void BM_CloseSlotsBatched(benchmark::State& state) {
  CloseSlots(state, true);
}
void BM_CloseSlotsKeyByKey(benchmark::State& state) {
  CloseSlots(state, false);
}

BENCHMARK(BM_CloseSlotsBatched)->Arg(64)->Arg(255)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CloseSlotsKeyByKey)->Arg(64)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
