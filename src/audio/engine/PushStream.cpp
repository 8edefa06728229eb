#include "audio/engine/PushStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio::engine {

namespace {

ChannelFormat PushFormat(uint32_t rate, uint32_t channels, bool isFloat) {
  ChannelFormat format;
  format.rate = rate;
  format.channels = channels;
  format.isFloat = isFloat;
  return format;
}

size_t FifoBytes(uint32_t rate, uint32_t channels, bool isFloat, double seconds) {
  const size_t frameBytes = static_cast<size_t>(channels) * (isFloat ? 4 : 2);
  const auto frames = static_cast<size_t>(std::ceil(static_cast<double>(rate) * seconds));
  return std::max<size_t>(frames, 1) * frameBytes;
}

}  // namespace

PushStream::PushStream(uint32_t rate, uint32_t channels, bool isFloat, double capacitySeconds)
    : MixerSource(PushFormat(rate, channels, isFloat)),
      fifo_(FifoBytes(rate, channels, isFloat, capacitySeconds)) {}

size_t PushStream::Put(const void* data, size_t bytes) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  const size_t room = fifo_.FreeBytes() / frameBytes * frameBytes;
  const size_t wanted = bytes / frameBytes * frameBytes;
  const size_t n = std::min(wanted, room);
  const size_t written = n > 0 ? fifo_.Write(data, n) : 0;
  if (written != bytes) {
    dropped_.fetch_add(bytes - written, std::memory_order_relaxed);
  }
  return written;
}

size_t PushStream::AvailableFrames() const noexcept {
  return fifo_.UsedBytes() / Format().FrameBytes();
}

size_t PushStream::ReadFloat(float* out, size_t frames) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  const SpscFifo::Spans spans = fifo_.Peek(frames * frameBytes);
  const size_t bytes = (spans.firstBytes + spans.secondBytes) / frameBytes * frameBytes;
  const size_t firstBytes = std::min(bytes, spans.firstBytes);
  const size_t secondBytes = bytes - firstBytes;
  auto* dst = reinterpret_cast<uint8_t*>(out);
  if (Format().isFloat) {
    // A float can straddle the ring's end, so copy bytes.
    std::memcpy(dst, spans.first, firstBytes);
    if (secondBytes > 0) {
      std::memcpy(dst + firstBytes, spans.second, secondBytes);
    }
  } else {
    // Frames of 16-bit samples are even-sized, so no sample straddles the ring's end.
    ConvertPcm16ToFloat(spans.first, firstBytes / 2, out);
    if (secondBytes > 0) {
      ConvertPcm16ToFloat(spans.second, secondBytes / 2, out + firstBytes / 2);
    }
  }
  fifo_.Consume(bytes);
  return bytes / frameBytes;
}

size_t PushStream::Skip(size_t frames) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  const size_t bytes = std::min(frames, AvailableFrames()) * frameBytes;
  fifo_.Consume(bytes);
  return bytes / frameBytes;
}

size_t PushStream::ReadBytes(void* out, size_t bytes) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  return fifo_.Read(out, bytes / frameBytes * frameBytes);
}

std::shared_ptr<PushStream> FindPushStream(uint32_t handle) {
  return HandleTable::Instance().FindAs<PushStream>(handle);
}

}  // namespace velloran::audio::engine
