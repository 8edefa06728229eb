// Files of the built-in WAV writer as FFmpeg reads them (an independent reader of the layout).
#include <gtest/gtest.h>

#include <vector>

#include "audio/encode/WavWriter.h"
#include "support/AudioDecode.h"
#include "support/TempDir.h"

namespace velloran::audio {
namespace {

std::vector<int16_t> Ramp(size_t count) {
  std::vector<int16_t> v(count);
  for (size_t i = 0; i < count; ++i) {
    v[i] = static_cast<int16_t>(i * 7);
  }
  return v;
}

TEST(WavDecodersTest, RiffAndRf64FilesDecodeToTheSamplesWritten) {
  for (bool rf64 : {false, true}) {
    test::TempDir dir;
    const std::string path = dir.File("f.wav");
    WavWriter::Options options;
    options.refreshBytes = 4000;
    if (rf64) {
      options.riffLimit = WavWriter::kHeaderSize + 10000;  // stands in for 4 GiB
    }
    WavWriter writer(22050, 2, options);
    ASSERT_EQ(writer.Open(path), 0);
    const auto samples = Ramp(22050 * 2);  // 1 s, 88200 bytes
    size_t written = 0;
    ASSERT_EQ(writer.Write(reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * 2,
                           &written),
              PcmOutput::WriteResult::kOk);
    writer.Finish();
    EXPECT_EQ(writer.IsRf64(), rf64);

    const auto audio = test::DecodeAudio(path);
    EXPECT_EQ(audio.sampleRate, 22050u) << rf64;
    EXPECT_EQ(audio.channels, 2) << rf64;
    EXPECT_EQ(audio.samples, samples) << rf64;
    EXPECT_NEAR(test::ProbeDuration(path), 1.0, 0.001) << rf64;
  }
}

}  // namespace
}  // namespace velloran::audio
