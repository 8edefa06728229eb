// Audio seconds processed per CPU second for one slot's path: a 48 kHz float push stream into
// a 44.1 kHz stereo mixer, the channel-mapping effect, a level DSP and a byte-counter DSP, and
// the encoders' 16-bit conversion; beside FFmpeg converting the same audio (48 kHz float to
// 44.1 kHz 16-bit) in the same run, its CPU time taken from the child's rusage.
//
// EngineSlotPath/Nominal: the device clock matches the pull (one constant-rate soxr engine).
// EngineSlotPath/DriftControl: the device clock 0.3 % fast and drift control engaged from the
// start (the ratio is stepped by cross-faded constant-rate engines).
// The ratio against FFmpeg is printed at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/engine/Engine.h"
#include "audio/engine/ResamplerFactory.h"
#include "audio/engine/SampleConvert.h"

namespace {

constexpr int kSeconds = 120;
constexpr DWORD kSrcRate = 48000;
constexpr DWORD kMixRate = 44100;

std::map<std::string, double> gSpeed;  // audio seconds per CPU second, by name

const std::vector<float>& Input() {
  static const std::vector<float> input = [] {
    std::vector<float> v(static_cast<size_t>(kSrcRate) * kSeconds * 2);
    for (size_t f = 0; f < v.size() / 2; ++f) {
      const double t = static_cast<double>(f) / kSrcRate;
      v[2 * f] = static_cast<float>(0.4 * std::sin(2 * M_PI * 1000 * t));
      v[2 * f + 1] = static_cast<float>(0.3 * std::sin(2 * M_PI * 440 * t));
    }
    return v;
  }();
  return input;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Meter {
  float left = 0;
  float right = 0;
  uint64_t bytes = 0;
  std::vector<int16_t> pcm = std::vector<int16_t>(2 * 4096);
  static void Level(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* m = static_cast<Meter*>(user);
    const auto* s = static_cast<const float*>(buffer);
    float l = 0;
    float r = 0;
    for (DWORD i = 0; i + 1 < length / 4; i += 2) {
      l = std::max(l, std::fabs(s[i]));
      r = std::max(r, std::fabs(s[i + 1]));
    }
    m->left = l;
    m->right = r;
  }
  static void Counter(HDSP, DWORD, void*, DWORD length, void* user) {
    static_cast<Meter*>(user)->bytes += length;
  }
  // The encoders' intake: the same block conversion the encoder queue runs.
  static void To16Bit(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* m = static_cast<Meter*>(user);
    const size_t n = std::min<size_t>(length / 4, m->pcm.size());
    velloran::audio::ConvertFloatToPcm16(static_cast<const float*>(buffer), n,
                                         reinterpret_cast<uint8_t*>(m->pcm.data()));
  }
};

void EngineSlotPath(benchmark::State& state, bool driftControl) {
  const auto& input = Input();
  double audio = 0;
  double cpu = 0;
  for (auto _ : state) {
    const HSTREAM mixer = BASS_Mixer_StreamCreate(
        kMixRate, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    if (driftControl) {
      velloran::audio::engine::DriftController::Settings settings;
      settings.bandSeconds = 0.0;  // engage at once
      velloran::audio::engine::FindMixer(mixer)->SetDriftSettings(settings);
    }
    const HSTREAM push = BASS_StreamCreate(kSrcRate, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE,
                                           STREAMPROC_PUSH, nullptr);
    BASS_Mixer_StreamAddChannel(mixer, push, 0);
    const HFX mix = BASS_ChannelSetFX(mixer, BASS_FX_BFX_MIX, 1);
    const int flags[2] = {BASS_BFX_CHAN1, BASS_BFX_CHAN2};
    const BASS_BFX_MIX params{flags};
    BASS_FXSetParameters(mix, &params);
    Meter meter;
    BASS_ChannelSetDSP(mixer, Meter::Level, &meter, 0);
    BASS_ChannelSetDSP(mixer, Meter::Counter, &meter, 0);
    BASS_ChannelSetDSP(mixer, Meter::To16Bit, &meter, -1000);
    std::vector<float> out(2 * 2205);
    auto stream = velloran::audio::engine::FindPushStream(push);

    // With drift control the device clock runs 0.3 % fast, so the ratio is steered all along.
    const double perStep = kSrcRate * (driftControl ? 1.003 : 1.0) * 0.05;
    const size_t steps = static_cast<size_t>(kSeconds) * 20;  // 50 ms steps
    const size_t available = input.size() / 2;
    double owed = 0.0;
    size_t at = 0;
    const double start = ThreadCpuSeconds();
    for (size_t step = 0; step < steps; ++step) {
      owed += perStep;
      auto frames = static_cast<size_t>(owed);
      owed -= static_cast<double>(frames);
      if (at + frames > available) {
        at = 0;
      }
      stream->Put(input.data() + at * 2, frames * 8);
      at += frames;
      BASS_ChannelGetData(mixer, out.data(), 2205 * 8);
      // Audio runs far faster than the clock here: build new engines at once (and count
      // their CPU).
      velloran::audio::engine::ResamplerFactory::Instance().ServePending();
    }
    const double used = ThreadCpuSeconds() - start;
    state.SetIterationTime(used);
    cpu += used;
    audio += kSeconds;
    benchmark::DoNotOptimize(meter.bytes);
    BASS_StreamFree(push);
    BASS_ChannelFree(mixer);
  }
  const double speed = audio / cpu;
  state.counters["audio_s_per_cpu_s"] = speed;
  gSpeed[driftControl ? "engine_drift" : "engine_nominal"] = speed;
}

void FfmpegConvert(benchmark::State& state) {
  const auto& input = Input();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("velloran-engine-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "in.raw").string();
  {
    std::ofstream file(in, std::ios::binary);
    file.write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size() * sizeof(float)));
  }
  double audio = 0;
  double cpu = 0;
  for (auto _ : state) {
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    const pid_t pid = fork();
    if (pid == 0) {
      execlp("ffmpeg", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "f32le",
             "-ar", "48000", "-ac", "2", "-i", in.c_str(), "-ar", "44100", "-f", "s16le", "-y",
             "/dev/null", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("ffmpeg failed (is it installed?)");
      break;
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    auto seconds = [](const timeval& tv) {
      return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
    };
    const double used = seconds(after.ru_utime) - seconds(before.ru_utime) +
                        seconds(after.ru_stime) - seconds(before.ru_stime);
    state.SetIterationTime(used);
    cpu += used;
    audio += kSeconds;
  }
  std::filesystem::remove_all(dir);
  if (cpu > 0) {
    state.counters["audio_s_per_cpu_s"] = audio / cpu;
    gSpeed["ffmpeg"] = audio / cpu;
  }
}

BENCHMARK_CAPTURE(EngineSlotPath, Nominal, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK_CAPTURE(EngineSlotPath, DriftControl, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(FfmpegConvert)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gSpeed.count("ffmpeg") != 0) {
    for (const char* name : {"engine_nominal", "engine_drift"}) {
      if (gSpeed.count(name) != 0) {
        std::printf("%s: %.0f audio s per CPU s; ffmpeg: %.0f; ratio engine/ffmpeg = %.2f\n", name,
                    gSpeed[name], gSpeed["ffmpeg"], gSpeed[name] / gSpeed["ffmpeg"]);
      }
    }
  }
  return 0;
}
