// Push streams into a mixer: rate conversion, channel layout, bit-exact pass-through, drift
// control over a simulated hour, FIFO overflow. Time is simulated: a producer loop pushes what
// a device would deliver per step and the test pulls what the clock would.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Signals.h"
#include "audio/bass.h"
#include "audio/engine/Engine.h"
#include "audio/engine/ResamplerFactory.h"
#include "support/LongSimulation.h"

namespace {

using velloran::audio::engine::FindMixer;
using velloran::audio::engine::FindPushStream;
using velloran::audio::engine::MixerInput;
using velloran::audio::engine::ResamplerFactory;
using velloran::audio::test::SineFrames;
using velloran::audio::test::ToneAmplitude;

constexpr DWORD kMixerFlags = BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP;

struct Graph {
  HSTREAM mixer = 0;
  HSTREAM push = 0;
  Graph(DWORD mixRate, DWORD mixChans, DWORD srcRate, DWORD srcChans, bool srcFloat) {
    mixer = BASS_Mixer_StreamCreate(mixRate, mixChans, kMixerFlags);
    push = BASS_StreamCreate(srcRate, srcChans,
                             BASS_STREAM_DECODE | (srcFloat ? BASS_SAMPLE_FLOAT : 0u),
                             STREAMPROC_PUSH, nullptr);
    EXPECT_TRUE(BASS_Mixer_StreamAddChannel(mixer, push, 0));
  }
  ~Graph() {
    BASS_StreamFree(push);
    BASS_ChannelFree(mixer);
  }
  const MixerInput* Input() const { return FindMixer(mixer)->InputFor(FindPushStream(push).get()); }
};

TEST(EngineMixer, SineThrough48kTo44k1KeepsFrequencyAndLevel) {
  Graph g(44100, 2, 48000, 2, true);
  std::vector<float> out;
  std::vector<float> block(2 * 2205);
  size_t pushed = 0;
  for (int step = 0; step < 60; ++step) {  // 3 s in 50 ms steps
    const auto in = SineFrames(pushed, 2400, 2, 1000.0, 48000.0, 0.5);
    BASS_StreamPutData(g.push, in.data(), static_cast<DWORD>(in.size() * 4));
    pushed += 2400;
    ASSERT_EQ(BASS_ChannelGetData(g.mixer, block.data(), 2205 * 8), 2205u * 8);
    out.insert(out.end(), block.begin(), block.end());
  }
  // Priming: silence first, then the tone. Measure one second of the last two.
  const float* tail = out.data() + out.size() - 2 * 44100;
  for (int channel = 0; channel < 2; ++channel) {
    EXPECT_NEAR(ToneAmplitude(tail + channel, 44100, 2, 1000.0, 44100.0), 0.5, 0.005);
    EXPECT_LT(ToneAmplitude(tail + channel, 44100, 2, 1090.0, 44100.0), 0.001);
    EXPECT_LT(ToneAmplitude(tail + channel, 44100, 2, 918.0, 44100.0), 0.001);
  }
  EXPECT_EQ(out[0], 0.0f);
}

TEST(EngineMixer, ChannelLayoutsAnd16BitSources) {
  struct Case {
    DWORD srcChans;
    bool srcFloat;
  };
  for (const Case c : {Case{1, false}, Case{4, true}, Case{2, false}}) {
    Graph g(44100, 2, 44100, c.srcChans, c.srcFloat);
    // Frame f, channel k: value (k + 1) * 1000 + f (16-bit: as integer samples).
    const size_t frames = 44100;
    std::vector<int16_t> pcm(frames * c.srcChans);
    std::vector<float> flt(frames * c.srcChans);
    for (size_t f = 0; f < frames; ++f) {
      for (DWORD k = 0; k < c.srcChans; ++k) {
        const auto v = static_cast<int>((k + 1) * 1000 + f % 1000);
        pcm[f * c.srcChans + k] = static_cast<int16_t>(v);
        flt[f * c.srcChans + k] = static_cast<float>(v) / 32768.0f;
      }
    }
    if (c.srcFloat) {
      BASS_StreamPutData(g.push, flt.data(), static_cast<DWORD>(flt.size() * 4));
    } else {
      BASS_StreamPutData(g.push, pcm.data(), static_cast<DWORD>(pcm.size() * 2));
    }
    std::vector<float> out(2 * 1000);
    ASSERT_EQ(BASS_ChannelGetData(g.mixer, out.data(), 8000), 8000u);
    for (size_t f = 0; f < 1000; ++f) {
      const float left = static_cast<float>(1000 + f) / 32768.0f;
      const float right = c.srcChans == 1 ? left : static_cast<float>(2000 + f) / 32768.0f;
      ASSERT_EQ(out[2 * f], left) << c.srcChans << " frame " << f;
      ASSERT_EQ(out[2 * f + 1], right) << c.srcChans << " frame " << f;
    }
  }
}

// A source paced by the same clock as the pull, delivering in 10 ms blocks while the pull takes
// 50 ms: after priming the output is the input, bit for bit, with no resampler in the path.
TEST(EngineMixer, SameRateSourceInsideDeadBandPassesThroughBitExact) {
  VELLORAN_SKIP_LONG_SIMULATION_UNDER_SANITIZERS();
  Graph g(44100, 2, 44100, 2, true);
  auto value = [](uint64_t n) { return static_cast<float>((n % 100003) + 1) * 1e-6f; };
  uint64_t produced = 0;
  uint64_t checked = 0;
  bool started = false;
  std::vector<float> in(2 * 441);
  std::vector<float> out(2 * 2205);
  for (int step = 0; step < 20 * 600; ++step) {  // ten minutes
    for (int b = 0; b < 5; ++b) {
      for (size_t i = 0; i < in.size(); ++i) {
        in[i] = value(produced * 2 + i);
      }
      produced += 441;
      BASS_StreamPutData(g.push, in.data(), static_cast<DWORD>(in.size() * 4));
    }
    ASSERT_EQ(BASS_ChannelGetData(g.mixer, out.data(), 2205 * 8), 2205u * 8);
    for (float v : out) {
      if (!started && v == 0.0f) {
        continue;
      }
      started = true;
      ASSERT_EQ(v, value(checked)) << "sample " << checked;
      ++checked;
    }
  }
  EXPECT_GT(checked, 2u * 44100 * 590);
  EXPECT_EQ(g.Input()->CurrentMode(), MixerInput::Mode::kPassthrough);
  EXPECT_EQ(g.Input()->Underruns(), 0u);
}

// A device clock 0.3 % fast or slow for one simulated hour: after priming, the output is one
// continuous tone (no gap, no jump), the FIFO stays bounded, nothing is dropped, and the loop
// settles on the device's real ratio.
TEST(EngineMixer, DriftingSourceForOneHourHasNoGapsAndBoundedFifo) {
  VELLORAN_SKIP_LONG_SIMULATION_UNDER_SANITIZERS();
  struct Case {
    DWORD srcRate;
    double drift;
  };
  for (const Case c : {Case{48000, 0.003}, Case{44100, -0.003}}) {
    SCOPED_TRACE(testing::Message() << c.srcRate << " Hz, drift " << c.drift);
    Graph g(44100, 2, c.srcRate, 2, true);
    auto stream = FindPushStream(g.push);
    const double tone = 100.0;
    const double amplitude = 0.5;
    const double perStep = c.srcRate * (1.0 + c.drift) * 0.05;
    double owed = 0.0;
    uint64_t produced = 0;
    std::vector<float> out(2 * 2205);
    bool started = false;
    float previous = 0.0f;
    double maxStep = 0.0;
    size_t zeroRun = 0;
    size_t maxZeroRun = 0;
    size_t maxQueued = 0;
    // Largest sample-to-sample change of the tone at the output rate, with room for the
    // resampler's ripple; a gap or a jump exceeds it by far.
    const double bound = 2.0 * 2.0 * M_PI * tone * (1.0 + std::fabs(c.drift)) / 44100.0 * amplitude;
    for (int step = 0; step < 20 * 3600; ++step) {
      owed += perStep;
      const auto frames = static_cast<size_t>(owed);
      owed -= static_cast<double>(frames);
      const auto in = SineFrames(produced, frames, 2, tone, c.srcRate * (1.0 + c.drift), amplitude);
      produced += frames;
      BASS_StreamPutData(g.push, in.data(), static_cast<DWORD>(in.size() * 4));
      maxQueued = std::max(maxQueued, stream->QueuedBytes());
      ASSERT_EQ(BASS_ChannelGetData(g.mixer, out.data(), 2205 * 8), 2205u * 8);
      ResamplerFactory::Instance().ServePending();  // audio runs faster than the clock here
      for (size_t f = 0; f < 2205; ++f) {
        const float v = out[2 * f];
        if (!started) {
          started = v != 0.0f;
          previous = v;
          continue;
        }
        maxStep = std::max(maxStep, static_cast<double>(std::fabs(v - previous)));
        zeroRun = v == 0.0f ? zeroRun + 1 : 0;
        maxZeroRun = std::max(maxZeroRun, zeroRun);
        previous = v;
      }
    }
    EXPECT_TRUE(started);
    EXPECT_LT(maxStep, bound);
    EXPECT_LE(maxZeroRun, 1u);
    EXPECT_EQ(stream->DroppedBytes(), 0u);
    EXPECT_LT(maxQueued, static_cast<size_t>(c.srcRate * 8 * 0.6));  // below 0.6 s
    EXPECT_EQ(g.Input()->Underruns(), 0u);
    EXPECT_EQ(g.Input()->CurrentMode(), MixerInput::Mode::kResampled);
    EXPECT_NEAR(g.Input()->Correction(), c.drift, 0.0005);
    EXPECT_NEAR(g.Input()->AppliedCorrection(), c.drift, 0.0005);
    std::printf("drift %+.3f: %llu ratio changes in the hour, max FIFO %.0f ms\n", c.drift,
                static_cast<unsigned long long>(g.Input()->RatioChanges()),
                1000.0 * static_cast<double>(maxQueued) / (c.srcRate * 8.0));
  }
}

// The pull thread is held up for 5 s and then catches up in pieces of 2 s, 2 s and 1 s: the
// backlog is not taken for drift, so the same-rate path stays bit-exact.
TEST(EngineMixer, PullBacklogIsNotDrift) {
  Graph g(44100, 2, 44100, 2, true);
  auto value = [](uint64_t n) { return static_cast<float>((n % 65521) + 1) * 1e-6f; };
  uint64_t produced = 0;
  uint64_t checked = 0;
  bool started = false;
  std::vector<float> in(2 * 2205);
  std::vector<float> out(2 * 88200);
  auto push = [&] {
    for (size_t i = 0; i < in.size(); ++i) {
      in[i] = value(produced * 2 + i);
    }
    produced += 2205;
    BASS_StreamPutData(g.push, in.data(), static_cast<DWORD>(in.size() * 4));
  };
  auto pull = [&](size_t frames) {
    ASSERT_EQ(BASS_ChannelGetData(g.mixer, out.data(), static_cast<DWORD>(frames * 8)), frames * 8);
    for (size_t i = 0; i < frames * 2; ++i) {
      if (!started && out[i] == 0.0f) {
        continue;
      }
      started = true;
      ASSERT_EQ(out[i], value(checked)) << "sample " << checked;
      ++checked;
    }
  };
  for (int round = 0; round < 3; ++round) {
    for (int step = 0; step < 20 * 60; ++step) {  // a minute in step
      push();
      pull(2205);
    }
    for (int step = 0; step < 100; ++step) {  // held up for 5 s
      push();
    }
    pull(88200);
    pull(88200);
    pull(44100);
  }
  EXPECT_EQ(g.Input()->CurrentMode(), MixerInput::Mode::kPassthrough);
  EXPECT_EQ(g.Input()->SkippedFrames(), 0u);
  EXPECT_GT(checked, 2u * 44100 * 190);
}

TEST(EngineMixer, FullFifoDropsAndCounts) {
  const HSTREAM push = BASS_StreamCreate(8000, 2, BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr);
  auto stream = FindPushStream(push);
  ASSERT_TRUE(stream);
  const size_t capacity = stream->CapacityBytes();
  EXPECT_EQ(capacity, 8000u * 4 * 6);  // six seconds
  std::vector<int16_t> second(8000 * 2, 7);
  for (int i = 0; i < 10; ++i) {
    BASS_StreamPutData(push, second.data(), 8000 * 4);
  }
  EXPECT_EQ(stream->QueuedBytes(), capacity);
  EXPECT_EQ(velloran::audio::engine::DroppedBytes(push), 4u * 8000 * 4);
  EXPECT_EQ(stream->Put(second.data(), 3), 0u);  // a partial frame is never queued
  EXPECT_EQ(stream->DroppedBytes(), 4u * 8000 * 4 + 3);
  BASS_StreamFree(push);
}

}  // namespace

namespace {

// When drift control takes over from the pass-through or constant-rate path, the tone runs on
// without a click: no sample-to-sample step beyond the tone's own slope (1 kHz, where a phase
// jump of a fraction of a sample would show).
TEST(EngineMixer, TakingOverDriftControlIsClickFree) {
  for (const DWORD srcRate : {44100u, 48000u}) {
    SCOPED_TRACE(srcRate);
    Graph g(44100, 2, srcRate, 2, true);
    const double drift = 0.004;
    const double perStep = srcRate * (1.0 + drift) * 0.05;
    double owed = 0.0;
    uint64_t produced = 0;
    std::vector<float> out(2 * 2205);
    bool started = false;
    float previous = 0.0f;
    double maxStep = 0.0;
    for (int step = 0; step < 20 * 90; ++step) {
      owed += perStep;
      const auto frames = static_cast<size_t>(owed);
      owed -= static_cast<double>(frames);
      const auto in = SineFrames(produced, frames, 2, 1000.0, srcRate * (1.0 + drift), 0.5);
      produced += frames;
      BASS_StreamPutData(g.push, in.data(), static_cast<DWORD>(in.size() * 4));
      ASSERT_EQ(BASS_ChannelGetData(g.mixer, out.data(), 2205 * 8), 2205u * 8);
      ResamplerFactory::Instance().ServePending();
      for (size_t f = 0; f < 2205; ++f) {
        const float v = out[2 * f];
        if (started) {
          maxStep = std::max(maxStep, static_cast<double>(std::fabs(v - previous)));
        }
        started = started || v != 0.0f;
        previous = v;
      }
    }
    ASSERT_EQ(g.Input()->CurrentMode(), MixerInput::Mode::kResampled);
    const double slope = 2.0 * M_PI * 1000.0 / 44100.0 * 0.5;
    EXPECT_LT(maxStep, slope * 1.05) << maxStep / slope;
  }
}

}  // namespace
