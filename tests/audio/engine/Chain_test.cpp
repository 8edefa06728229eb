// The processing chain of a mixer: channel mapping, delay, priority order, and changes while
// another thread pulls.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "audio/bass.h"

namespace {

constexpr DWORD kRate = 44100;

// A DSP at high priority that writes a deterministic stereo signal: left = frame number + 1,
// right = -(frame number + 1), counted across calls.
struct Generator {
  uint64_t frame = 0;
  static void Proc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Generator*>(user);
    auto* s = static_cast<float*>(buffer);
    for (DWORD f = 0; f < length / 8; ++f) {
      const auto v = static_cast<float>(++self->frame);
      s[2 * f] = v;
      s[2 * f + 1] = -v;
    }
  }
};

// A DSP that records what it sees.
struct Capture {
  std::vector<float> samples;
  static void Proc(HDSP, DWORD, void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Capture*>(user);
    const auto* s = static_cast<const float*>(buffer);
    self->samples.insert(self->samples.end(), s, s + length / 4);
  }
};

struct MixerFixture : ::testing::Test {
  HSTREAM mixer = BASS_Mixer_StreamCreate(
      kRate, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
  std::vector<float> buffer = std::vector<float>(2 * 8192);
  ~MixerFixture() override { BASS_ChannelFree(mixer); }
  void Pull(size_t frames) {
    while (frames > 0) {
      const size_t n = std::min<size_t>(frames, 8192);
      ASSERT_EQ(BASS_ChannelGetData(mixer, buffer.data(), static_cast<DWORD>(n * 8)), n * 8);
      frames -= n;
    }
  }
};

TEST_F(MixerFixture, ChannelMappingTable) {
  Generator generator;
  Capture capture;
  ASSERT_NE(BASS_ChannelSetDSP(mixer, Generator::Proc, &generator, 200), 0u);
  const HFX mix = BASS_ChannelSetFX(mixer, BASS_FX_BFX_MIX, 1);
  ASSERT_NE(mix, 0u);
  ASSERT_NE(BASS_ChannelSetDSP(mixer, Capture::Proc, &capture, 0), 0u);
  struct Case {
    int left, right;
    float wantLeft, wantRight;  // for generator frame v: +v or -v
  };
  for (const Case& c : {Case{1, 2, 1, -1}, Case{1, 1, 1, 1}, Case{2, 2, -1, -1}}) {
    const int flags[2] = {c.left, c.right};
    const BASS_BFX_MIX params{flags};
    ASSERT_TRUE(BASS_FXSetParameters(mix, &params));
    capture.samples.clear();
    const uint64_t first = generator.frame + 1;
    Pull(1000);
    ASSERT_EQ(capture.samples.size(), 2000u);
    for (size_t f = 0; f < 1000; ++f) {
      const auto v = static_cast<float>(first + f);
      ASSERT_EQ(capture.samples[2 * f], c.wantLeft * v) << c.left << c.right << " frame " << f;
      ASSERT_EQ(capture.samples[2 * f + 1], c.wantRight * v) << c.left << c.right;
    }
  }
}

TEST_F(MixerFixture, EchoAsPureDelayIsSampleExact) {
  for (const float seconds : {0.1f, 0.0123f}) {
    BASS_ChannelFree(mixer);
    mixer = BASS_Mixer_StreamCreate(kRate, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE);
    Generator generator;
    Capture capture;
    BASS_ChannelSetDSP(mixer, Generator::Proc, &generator, 200);
    const HFX echo = BASS_ChannelSetFX(mixer, BASS_FX_BFX_ECHO3, 100);
    const BASS_BFX_ECHO3 params{0.0f, 1.0f, seconds, BASS_BFX_CHANALL};
    ASSERT_TRUE(BASS_FXSetParameters(echo, &params));
    BASS_ChannelSetDSP(mixer, Capture::Proc, &capture, 0);
    Pull(20000);
    const auto delay = static_cast<size_t>(std::lround(seconds * kRate));
    for (size_t f = 0; f < 20000; ++f) {
      const float want = f < delay ? 0.0f : static_cast<float>(f - delay + 1);
      ASSERT_EQ(capture.samples[2 * f], want) << "delay " << delay << " frame " << f;
      ASSERT_EQ(capture.samples[2 * f + 1], -want) << "delay " << delay << " frame " << f;
    }
  }
}

TEST_F(MixerFixture, PriorityOrderHigherFirstEqualInInsertionOrder) {
  std::vector<int> order;
  struct Tag {
    std::vector<int>* order;
    int id;
  };
  auto proc = [](HDSP, DWORD, void*, DWORD, void* user) {
    auto* tag = static_cast<Tag*>(user);
    tag->order->push_back(tag->id);
  };
  Tag tags[] = {{&order, 0}, {&order, 1}, {&order, 2}, {&order, 3}, {&order, 4}, {&order, 5}};
  const int priorities[] = {0, 100, -1000, 0, 1, -2000};
  HDSP handles[6];
  for (int i = 0; i < 6; ++i) {
    handles[i] = BASS_ChannelSetDSP(mixer, proc, &tags[i], priorities[i]);
    ASSERT_NE(handles[i], 0u);
  }
  Pull(100);
  EXPECT_EQ(order, (std::vector<int>{1, 4, 0, 3, 2, 5}));
  ASSERT_TRUE(BASS_ChannelRemoveDSP(mixer, handles[4]));
  order.clear();
  Pull(100);
  EXPECT_EQ(order, (std::vector<int>{1, 0, 3, 2, 5}));
}

// One thread pulls all the time; the test thread adds and removes effects, DSPs and sources.
// A DSP's state is destroyed right after BASS_ChannelRemoveDSP returns: the callback must never
// see it again.
TEST_F(MixerFixture, ChangesWhilePullingAreSafe) {
  struct State {
    std::atomic<bool> alive{true};
    std::atomic<int>* violations;
  };
  std::atomic<int> violations{0};
  std::atomic<bool> stop{false};
  std::thread puller([&] {
    std::vector<float> local(2 * 512);
    while (!stop.load()) {
      BASS_ChannelGetData(mixer, local.data(), static_cast<DWORD>(local.size() * 4));
    }
  });
  auto proc = [](HDSP, DWORD, void*, DWORD, void* user) {
    auto* state = static_cast<State*>(user);
    if (!state->alive.load()) {
      state->violations->fetch_add(1);
    }
  };
  const int flags[2] = {2, 1};
  const BASS_BFX_MIX swap{flags};
  std::vector<float> block(2 * 480, 0.25f);
  for (int round = 0; round < 300; ++round) {
    auto* state = new State{};
    state->violations = &violations;
    const HDSP dsp = BASS_ChannelSetDSP(mixer, proc, state, round % 3);
    const HFX fx = BASS_ChannelSetFX(mixer, BASS_FX_BFX_MIX, 1);
    BASS_FXSetParameters(fx, &swap);
    const HSTREAM push = BASS_StreamCreate(48000, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE,
                                           STREAMPROC_PUSH, nullptr);
    BASS_StreamPutData(push, block.data(), static_cast<DWORD>(block.size() * 4));
    BASS_Mixer_StreamAddChannel(mixer, push, 0);
    std::this_thread::yield();
    ASSERT_TRUE(BASS_ChannelRemoveDSP(mixer, dsp));
    state->alive.store(false);
    delete state;
    ASSERT_TRUE(BASS_ChannelRemoveFX(mixer, fx));
    if (round % 2 == 0) {
      ASSERT_TRUE(BASS_Mixer_ChannelRemove(push));
    }
    ASSERT_TRUE(BASS_StreamFree(push));
  }
  stop.store(true);
  puller.join();
  EXPECT_EQ(violations.load(), 0);
}

// A DSP may remove itself from inside its own callback.
TEST_F(MixerFixture, DspRemovesItself) {
  struct Self {
    HSTREAM mixer;
    HDSP dsp = 0;
    int calls = 0;
  } self{mixer};
  self.dsp = BASS_ChannelSetDSP(
      mixer,
      [](HDSP handle, DWORD channel, void*, DWORD, void* user) {
        auto* s = static_cast<Self*>(user);
        ++s->calls;
        BASS_ChannelRemoveDSP(channel, handle);
      },
      &self, 0);
  Pull(100);
  Pull(100);
  EXPECT_EQ(self.calls, 1);
}

// A DSP that reads its own mixer gets an error instead of a deadlock.
TEST_F(MixerFixture, DspReadingItsOwnMixerFails) {
  struct Probe {
    DWORD result = 0;
    int error = 0;
  } probe;
  BASS_ChannelSetDSP(
      mixer,
      [](HDSP, DWORD channel, void*, DWORD, void* user) {
        auto* p = static_cast<Probe*>(user);
        float local[8];
        p->result = BASS_ChannelGetData(channel, local, sizeof(local));
        p->error = BASS_ErrorGetCode();
      },
      &probe, 0);
  Pull(10);
  EXPECT_EQ(probe.result, static_cast<DWORD>(-1));
  EXPECT_EQ(probe.error, BASS_ERROR_ALREADY);
  float local[8];
  EXPECT_EQ(BASS_ChannelGetData(mixer, local, sizeof(local)), sizeof(local));  // not stuck
}

}  // namespace
