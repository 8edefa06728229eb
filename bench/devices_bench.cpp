// Cost of the capture side on the device thread: one captured block (20 ms of stereo float at
// 48 kHz) handed to every client's push stream, for 1 to 16 clients; and the generator making
// a second of its signals.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/TGeneratorDeviceInfo.h"
#include "audio/generator/SignalGenerator.h"
#include "core/Clock.h"

namespace {

using velloran::audio::TGeneratorDeviceInfo;
using velloran::audio::generator::SignalGenerator;
using velloran::audio::generator::SignalKind;

void BM_FanOutBlock(benchmark::State& state) {
  TGeneratorDeviceInfo device(SignalKind::Silence, 0, "bench");
  device.SetManualPacing(true);
  std::vector<HSTREAM> clients;
  for (int i = 0; i < state.range(0); ++i) {
    clients.push_back(device.AddClient(48000, false, false));
  }
  std::vector<float> block(960 * 2, 0.25f);
  std::vector<uint8_t> drain(block.size() * sizeof(float));
  const auto bytes = static_cast<uint32_t>(block.size() * sizeof(float));
  int64_t n = 0;
  for (auto _ : state) {
    device.HandleInput(block.data(), bytes);
    if (++n % 64 == 0) {  // keep the FIFOs from filling: the consumer's side, not timed
      state.PauseTiming();
      for (HSTREAM c : clients) {
        while (BASS_ChannelGetData(c, drain.data(), static_cast<DWORD>(drain.size())) > 0) {
        }
      }
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes * state.range(0));
  for (HSTREAM c : clients) {
    device.RemoveClient(c);
    BASS_StreamFree(c);
  }
}
BENCHMARK(BM_FanOutBlock)->Arg(1)->Arg(4)->Arg(16);

void Discard(const void*, uint32_t, void*) {}

// One second of tone, ramp or silence (float, stereo, 48 kHz), as the generator thread makes it.
void BM_GeneratorSecond(benchmark::State& state) {
  auto clock = std::make_shared<velloran::ManualClock>();
  velloran::SetClock(clock);
  SignalGenerator generator(static_cast<SignalKind>(state.range(0)), 48000, false, &Discard,
                            nullptr);
  generator.Start(false);
  for (auto _ : state) {
    clock->Advance(1000);
    benchmark::DoNotOptimize(generator.Pump());
  }
  velloran::SetClock(nullptr);
}
BENCHMARK(BM_GeneratorSecond)
    ->Arg(static_cast<int>(SignalKind::Tone))
    ->Arg(static_cast<int>(SignalKind::Ramp))
    ->Arg(static_cast<int>(SignalKind::Silence));

}  // namespace
BENCHMARK_MAIN();
