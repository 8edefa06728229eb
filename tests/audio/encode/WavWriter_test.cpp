#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "audio/encode/WavWriter.h"
#include "support/TempDir.h"
#include "support/TmpfsMount.h"
#include "support/WavFile.h"

namespace velloran::audio {
namespace {

using test::ReadWav;

std::vector<int16_t> Ramp(size_t count, int start = 0) {
  std::vector<int16_t> v(count);
  for (size_t i = 0; i < count; ++i) {
    v[i] = static_cast<int16_t>(start + static_cast<int>(i));
  }
  return v;
}

PcmOutput::WriteResult Write(WavWriter& writer, const std::vector<int16_t>& samples) {
  size_t written = 0;
  return writer.Write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2,
                      &written);
}

TEST(WavWriterTest, FinishedFileHoldsFormatAndEverySample) {
  test::TempDir dir;
  WavWriter writer(44100, 2, {});
  ASSERT_EQ(writer.Open(dir.File("a.wav")), 0);
  const auto samples = Ramp(10000, -5000);
  ASSERT_EQ(Write(writer, samples), PcmOutput::WriteResult::kOk);
  writer.Finish();

  const auto wav = ReadWav(dir.File("a.wav"));
  ASSERT_TRUE(wav.ok);
  EXPECT_FALSE(wav.rf64);
  EXPECT_EQ(wav.formatTag, 1);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.sampleRate, 44100u);
  EXPECT_EQ(wav.bitsPerSample, 16);
  EXPECT_EQ(wav.dataOffset, WavWriter::kHeaderSize);
  EXPECT_EQ(wav.dataSize, 20000u);
  EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
  EXPECT_EQ(wav.samples, samples);
}

// A real 1 MiB tmpfs filled up: the writer keeps what went out, answers kBusy with the error
// until space is free, and the file then continues frame-aligned with nothing lost.
TEST(WavWriterTest, FullDiskWaitsForSpaceAndResumesWhereItStopped) {
  const test::TmpfsMount mountPoint("1m");
  if (!mountPoint.Mounted()) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  }
  const std::string filler = mountPoint.File("filler");
  std::ofstream(filler, std::ios::binary) << std::string(1000 * 1024, 'x');

  WavWriter writer(44100, 2, {});
  ASSERT_EQ(writer.Open(mountPoint.File("a.wav")), 0);
  const auto samples = Ramp(100001, 3);  // 200002 bytes: not a whole number of frames or pages
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  size_t done = 0;
  size_t written = 0;
  ASSERT_EQ(writer.Write(bytes, samples.size() * 2, &written), PcmOutput::WriteResult::kBusy);
  EXPECT_EQ(writer.LastError(), ENOSPC);
  EXPECT_LT(written, samples.size() * 2);
  done += written;
  std::filesystem::remove(filler);
  ASSERT_EQ(writer.Write(bytes + done, samples.size() * 2 - done, &written),
            PcmOutput::WriteResult::kOk);
  EXPECT_EQ(writer.LastError(), 0);
  writer.Finish();

  const auto wav = ReadWav(mountPoint.File("a.wav"));
  ASSERT_TRUE(wav.ok);
  EXPECT_EQ(wav.samples, samples);
}

TEST(WavWriterTest, HeaderOnDiskFollowsTheLastRefresh) {
  test::TempDir dir;
  WavWriter::Options options;
  options.refreshBytes = 1000;
  WavWriter writer(8000, 1, options);
  ASSERT_EQ(writer.Open(dir.File("r.wav")), 0);
  EXPECT_EQ(ReadWav(dir.File("r.wav")).dataSize, 0u);  // a valid, empty file from the start

  Write(writer, Ramp(300));  // 600 bytes: no refresh yet
  EXPECT_EQ(ReadWav(dir.File("r.wav")).dataSize, 0u);
  Write(writer, Ramp(1100));  // crosses 1000 and 2000 inside one write
  const auto mid = ReadWav(dir.File("r.wav"));
  EXPECT_EQ(mid.dataSize, 2000u);  // the header never lags more than one interval
  EXPECT_EQ(mid.riffSize, WavWriter::kHeaderSize - 8 + 2000);
  EXPECT_EQ(mid.fileSize, WavWriter::kHeaderSize + 2800);
  writer.Finish();
  EXPECT_EQ(ReadWav(dir.File("r.wav")).dataSize, 2800u);
}

TEST(WavWriterTest, TurnsIntoRf64PastTheRiffLimit) {
  test::TempDir dir;
  WavWriter::Options options;
  options.refreshBytes = 400;
  options.riffLimit = WavWriter::kHeaderSize - 8 + 1000;  // stands in for 4 GiB
  WavWriter writer(8000, 2, options);
  ASSERT_EQ(writer.Open(dir.File("big.wav")), 0);
  const auto samples = Ramp(900);  // 1800 bytes
  Write(writer, samples);
  EXPECT_TRUE(writer.IsRf64());
  writer.Finish();

  const auto wav = ReadWav(dir.File("big.wav"));
  ASSERT_TRUE(wav.ok);
  EXPECT_TRUE(wav.rf64);
  EXPECT_EQ(wav.dataSize, 1800u);  // from ds64
  EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
  EXPECT_EQ(wav.dataOffset, WavWriter::kHeaderSize);  // converted in place
  EXPECT_EQ(wav.samples, samples);
  // The 32-bit sizes say "see ds64".
  std::ifstream in(dir.File("big.wav"), std::ios::binary);
  std::vector<char> head(WavWriter::kHeaderSize);
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  uint32_t riff32 = 0;
  uint32_t data32 = 0;
  std::memcpy(&riff32, &head[4], 4);
  std::memcpy(&data32, &head[76], 4);
  EXPECT_EQ(riff32, 0xFFFFFFFFu);
  EXPECT_EQ(data32, 0xFFFFFFFFu);
}

TEST(WavWriterTest, RawModeWritesSamplesOnly) {
  test::TempDir dir;
  WavWriter::Options options;
  options.header = false;
  WavWriter writer(48000, 2, options);
  ASSERT_EQ(writer.Open(dir.File("x.raw")), 0);
  const auto samples = Ramp(64);
  Write(writer, samples);
  writer.Finish();
  std::ifstream in(dir.File("x.raw"), std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<size_t>(in.tellg()), 128u);
}

TEST(WavWriterTest, OpenReportsAFileThatCannotBeCreated) {
  test::TempDir dir;
  WavWriter writer(44100, 2, {});
  EXPECT_NE(writer.Open(dir.File("missing/folder/a.wav")), 0);
  EXPECT_EQ(Write(writer, Ramp(4)), PcmOutput::WriteResult::kBroken);
}

TEST(WavWriterTest, StreamHeaderIsCanonicalWithOpenSizes) {
  const auto h = WavWriter::StreamHeader(22050, 1);
  ASSERT_EQ(h.size(), 44u);
  EXPECT_EQ(std::memcmp(h.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(h.data() + 36, "data", 4), 0);
  uint32_t rate = 0;
  uint32_t size = 0;
  std::memcpy(&rate, h.data() + 24, 4);
  std::memcpy(&size, h.data() + 40, 4);
  EXPECT_EQ(rate, 22050u);
  EXPECT_EQ(size, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace velloran::audio
