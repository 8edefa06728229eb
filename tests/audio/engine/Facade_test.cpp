// The facade's handles, errors, options, plug-ins, units and silence.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "support/TempDir.h"

namespace {

TEST(EngineFacade, HandlesUnknownAndFreedFailWithHandleError) {
  const HSTREAM mixer = BASS_Mixer_StreamCreate(
      44100, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
  ASSERT_NE(mixer, 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  const HSTREAM push = BASS_StreamCreate(48000, 2, BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr);
  ASSERT_NE(push, 0u);
  EXPECT_GT(push, mixer);  // ascending, never reused

  float buffer[16];
  EXPECT_EQ(BASS_ChannelGetData(0xFFFFFF0u, buffer, sizeof(buffer)), static_cast<DWORD>(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

  ASSERT_TRUE(BASS_Mixer_StreamAddChannel(mixer, push, 0));
  EXPECT_FALSE(BASS_Mixer_StreamAddChannel(mixer, push, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  EXPECT_FALSE(BASS_Mixer_StreamAddChannel(mixer, mixer, 0));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);

  const HDSP dsp = BASS_ChannelSetDSP(
      mixer, [](HDSP, DWORD, void*, DWORD, void*) {}, nullptr, 0);
  ASSERT_NE(dsp, 0u);
  ASSERT_TRUE(BASS_StreamFree(push));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
  EXPECT_FALSE(BASS_StreamFree(push));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_EQ(BASS_StreamPutData(push, buffer, 8), static_cast<DWORD>(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_Mixer_ChannelRemove(push));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);

  ASSERT_TRUE(BASS_ChannelFree(mixer));
  BASS_CHANNELINFO info{};
  EXPECT_FALSE(BASS_ChannelGetInfo(mixer, &info));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_ChannelRemoveDSP(mixer, dsp));  // freed with its mixer
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_EQ(BASS_ChannelSetDSP(
                mixer, [](HDSP, DWORD, void*, DWORD, void*) {}, nullptr, 0),
            0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST(EngineFacade, BadArgumentsGetClearErrors) {
  EXPECT_EQ(BASS_StreamCreate(0, 2, BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FREQ);
  EXPECT_EQ(BASS_StreamCreate(48000, 0, BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  EXPECT_EQ(BASS_Mixer_StreamCreate(44100, 2, BASS_STREAM_DECODE), 0u);  // not float
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
  const HSTREAM mixer = BASS_Mixer_StreamCreate(44100, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE);
  EXPECT_EQ(BASS_ChannelSetFX(mixer, 0x12345, 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLTYPE);
  const HFX echo = BASS_ChannelSetFX(mixer, BASS_FX_BFX_ECHO3, 100);
  ASSERT_NE(echo, 0u);
  const BASS_BFX_ECHO3 negative{0.0f, 1.0f, -1.0f, BASS_BFX_CHANALL};
  EXPECT_FALSE(BASS_FXSetParameters(echo, &negative));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  EXPECT_FALSE(BASS_FXSetParameters(echo, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(mixer, -1.0), static_cast<QWORD>(-1));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  BASS_ChannelFree(mixer);
}

TEST(EngineFacade, OptionsAreStoredAndFloatDspIsAlwaysOn) {
  EXPECT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
  EXPECT_TRUE(BASS_Start());
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_ENCODE_QUEUE, 3000));
  EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_ENCODE_QUEUE), 3000u);
  EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_FLOATDSP, 0));
  EXPECT_EQ(BASS_GetConfig(BASS_CONFIG_FLOATDSP), 1u);
  EXPECT_EQ(BASS_GetConfig(0x7777), static_cast<DWORD>(-1));  // never set
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
  EXPECT_NE(BASS_FX_GetVersion(), 0u);
}

TEST(EngineFacade, PluginLoadRefusesMissingFilesAndForeignLibraries) {
  velloran::test::TempDir dir;
  EXPECT_EQ(BASS_PluginLoad(dir.File("absent.so").c_str(), BASS_UNICODE), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
  const std::string text = dir.File("notes.so");
  std::ofstream(text) << "not a shared object";
  EXPECT_EQ(BASS_PluginLoad(text.c_str(), BASS_UNICODE), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
  // A real shared object without the plug-in entry point.
  EXPECT_EQ(BASS_PluginLoad("libm.so.6", 0), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);  // not a path to a file
  for (const char* lib :
       {"/lib/x86_64-linux-gnu/libm.so.6", "/usr/lib/x86_64-linux-gnu/libm.so.6"}) {
    if (std::ifstream(lib).good()) {
      EXPECT_EQ(BASS_PluginLoad(lib, 0), 0u);
      EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
      break;
    }
  }
}

TEST(EngineFacade, MixerUnitsPositionAndSilenceWithoutSource) {
  const HSTREAM mixer = BASS_Mixer_StreamCreate(
      44100, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
  ASSERT_NE(mixer, 0u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(mixer, &info));
  EXPECT_EQ(info.freq, 44100u);
  EXPECT_EQ(info.chans, 2u);
  EXPECT_NE(info.flags & BASS_SAMPLE_FLOAT, 0u);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(mixer, 2.0), 44100u * 2 * 8);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(mixer, 0.05), 2205u * 8);
  EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(mixer, 44100 * 8 + 5), 1.0);  // whole frames

  std::vector<float> buffer(20000, 1.0f);
  // A request of 8 * 10000 + 3 bytes yields 10000 whole frames.
  EXPECT_EQ(BASS_ChannelGetData(mixer, buffer.data(), 8 * 10000 + 3), 8u * 10000);
  for (size_t i = 0; i < 20000; ++i) {
    ASSERT_EQ(buffer[i], 0.0f) << i;
  }
  EXPECT_EQ(BASS_ChannelGetPosition(mixer, BASS_POS_BYTE), 8u * 10000);

  // A 16-bit push stream measures in its own format; with nothing pushed the mixer stays silent.
  const HSTREAM push = BASS_StreamCreate(48000, 2, BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(push, 1.0), 48000u * 4);
  ASSERT_TRUE(BASS_Mixer_StreamAddChannel(mixer, push, 0));
  EXPECT_EQ(BASS_ChannelGetData(mixer, buffer.data(), 8 * 10000), 8u * 10000);
  EXPECT_EQ(buffer[123], 0.0f);
  EXPECT_EQ(BASS_ChannelGetPosition(mixer, BASS_POS_BYTE), 8u * 20000);
  BASS_ChannelFree(mixer);
  BASS_StreamFree(push);
}

}  // namespace
