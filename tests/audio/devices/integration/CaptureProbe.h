#pragma once
// Test helpers: a thread-safe collector of captured bytes and the analysis the capture tests
// need (per-channel peak level and frequency of a sine).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace velloran::test {

class CaptureProbe {
 public:
  void Add(const void* buffer, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* p = static_cast<const uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + length);
  }
  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_.size();
  }
  std::vector<uint8_t> Bytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.clear();
  }
  // Waits (real time: a real server delivers) until at least `bytes` arrived; false on timeout.
  bool WaitFor(size_t bytes, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Size() < bytes) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<uint8_t> bytes_;
};

// One channel of interleaved samples as float (16-bit scaled by 1/32768).
inline std::vector<float> ChannelOf(const std::vector<uint8_t>& bytes, int channels, int channel,
                                    bool sixteenBit) {
  std::vector<float> out;
  const size_t sampleBytes = sixteenBit ? 2 : 4;
  const size_t frameBytes = sampleBytes * static_cast<size_t>(channels);
  for (size_t i = static_cast<size_t>(channel) * sampleBytes; i + sampleBytes <= bytes.size();
       i += frameBytes) {
    if (sixteenBit) {
      int16_t v;
      std::memcpy(&v, &bytes[i], 2);
      out.push_back(static_cast<float>(v) / 32768.0f);
    } else {
      float v;
      std::memcpy(&v, &bytes[i], 4);
      out.push_back(v);
    }
  }
  return out;
}

inline double PeakDb(const std::vector<float>& samples) {
  double peak = 0;
  for (float v : samples) {
    peak = std::max(peak, std::fabs(static_cast<double>(v)));
  }
  return peak > 0 ? 20 * std::log10(peak) : -200.0;
}

// Frequency from the upward zero crossings (with a little hysteresis against noise).
inline double FrequencyOf(const std::vector<float>& samples, uint32_t rate) {
  int crossings = 0;
  size_t first = 0;
  size_t last = 0;
  bool armed = false;
  for (size_t n = 0; n < samples.size(); ++n) {
    if (samples[n] < -0.001f) {
      armed = true;
    } else if (armed && samples[n] >= 0.0f) {
      armed = false;
      if (crossings == 0) {
        first = n;
      }
      last = n;
      ++crossings;
    }
  }
  if (crossings < 2) {
    return 0;
  }
  return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

}  // namespace velloran::test
