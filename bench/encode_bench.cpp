// CPU cost of the encoder intake per hour of audio (44.1 kHz stereo):
// - EncoderIntoWav: float-to-16-bit conversion, queue and writer thread into a WAV file.
// - EncoderIntoLame: the same into lame's standard input; our own CPU (intake, writer, output
//   thread) and lame's CPU (child usage) are reported apart.
// - LameFromFile: lame encoding the same audio from a raw file, run side by side as the peer.
// Counters: cpu_s_per_audio_h = process CPU seconds per audio hour (user + system);
// child_cpu_s_per_audio_h = CPU of the encoder program per audio hour.
// The feeder waits for queue room (never drops), so each run measures all of the audio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"
#include "audio/engine/SampleConvert.h"

extern char** environ;

namespace {

using velloran::audio::Encoder;

constexpr uint32_t kRate = 44100;
constexpr uint16_t kChannels = 2;
constexpr double kAudioSeconds = 300.0;   // per run; figures are scaled to one hour
constexpr int kBlockFrames = kRate / 20;  // 50 ms, as the pull thread delivers

double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velloran-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::abort();
  }
  return pattern;
}

// A few seconds of music-like signal (two tones and noise), repeated.
const std::vector<float>& Signal() {
  static const std::vector<float> signal = [] {
    std::vector<float> s(static_cast<size_t>(kRate) * 4 * kChannels);
    uint32_t noise = 12345;
    for (size_t i = 0; i < s.size() / kChannels; ++i) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(i) / kRate;
      const double v = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 3100 * t) +
                       0.05 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
      s[i * kChannels] = static_cast<float>(v);
      s[i * kChannels + 1] = static_cast<float>(-v);
    }
    return s;
  }();
  return signal;
}

void Feed(Encoder& encoder, double seconds) {
  const std::vector<float>& signal = Signal();
  const size_t blockSamples = static_cast<size_t>(kBlockFrames) * kChannels;
  const size_t total = static_cast<size_t>(seconds * kRate) * kChannels;
  size_t at = 0;
  for (size_t done = 0; done < total; done += blockSamples) {
    while (encoder.QueueCapacity() - encoder.QueuedBytes() < blockSamples * 2) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (at + blockSamples > signal.size()) {
      at = 0;
    }
    encoder.Intake(signal.data() + at, blockSamples);
    at += blockSamples;
  }
}

void Report(benchmark::State& state, double self, double child) {
  const double hours = kAudioSeconds / 3600.0;
  state.counters["cpu_s_per_audio_h"] = self / hours;
  state.counters["child_cpu_s_per_audio_h"] = child / hours;
}

void EncoderIntoWav(benchmark::State& state) {
  const std::string dir = TempFolder();
  for (auto _ : state) {
    int error = 0;
    auto encoder = Encoder::ForFile(dir + "/bench.wav", {kRate, kChannels}, {}, {}, &error);
    if (!encoder || encoder->Start() != BASS_OK) {
      state.SkipWithError("cannot start the WAV writer");
      break;
    }
    const double before = CpuSeconds(RUSAGE_SELF);
    Feed(*encoder, kAudioSeconds);
    encoder->Stop();
    Report(state, CpuSeconds(RUSAGE_SELF) - before, 0.0);
  }
  std::filesystem::remove_all(dir);
}

void EncoderIntoLame(benchmark::State& state) {
  const std::string dir = TempFolder();
  for (auto _ : state) {
    int error = 0;
    auto encoder = Encoder::ForProcess(
        "\"lame\" --flush -r -s 44100  -b 128 -m s  - \"" + dir + "/bench.mp3\"",
        {kRate, kChannels}, false, nullptr, {}, &error);
    if (!encoder || encoder->Start() != BASS_OK) {
      state.SkipWithError("cannot start lame");
      break;
    }
    const double self = CpuSeconds(RUSAGE_SELF);
    const double child = CpuSeconds(RUSAGE_CHILDREN);
    Feed(*encoder, kAudioSeconds);
    encoder->Stop();  // reaps lame, so its usage is counted
    Report(state, CpuSeconds(RUSAGE_SELF) - self, CpuSeconds(RUSAGE_CHILDREN) - child);
  }
  std::filesystem::remove_all(dir);
}

void LameFromFile(benchmark::State& state) {
  const std::string dir = TempFolder();
  const std::string raw = dir + "/in.raw";
  {
    std::ofstream out(raw, std::ios::binary);
    const std::vector<float>& signal = Signal();
    std::vector<uint8_t> pcm(signal.size() * 2);
    velloran::audio::ConvertFloatToPcm16(signal.data(), signal.size(), pcm.data());
    const double repeats = kAudioSeconds * kRate * kChannels / static_cast<double>(signal.size());
    for (int i = 0; i < static_cast<int>(std::ceil(repeats)); ++i) {
      out.write(reinterpret_cast<const char*>(pcm.data()),
                static_cast<std::streamsize>(pcm.size()));
    }
  }
  const std::string out = dir + "/direct.mp3";
  for (auto _ : state) {
    const char* argv[] = {"lame", "--quiet", "--flush", "-r",        "-s",        "44100", "-b",
                          "128",  "-m",      "s",       raw.c_str(), out.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const double child = CpuSeconds(RUSAGE_CHILDREN);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "lame", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      state.SkipWithError("cannot start lame");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Report(state, 0.0, CpuSeconds(RUSAGE_CHILDREN) - child);
  }
  std::filesystem::remove_all(dir);
}

BENCHMARK(EncoderIntoWav)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(EncoderIntoLame)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(LameFromFile)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
