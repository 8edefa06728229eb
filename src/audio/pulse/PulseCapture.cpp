#include "audio/pulse/PulseCapture.h"

#include <chrono>
#include <thread>

#include "audio/bass.h"
#include "audio/pulse/NoAutospawn.h"

namespace velloran::audio::pulse {

namespace {

constexpr auto kConnectTimeout = std::chrono::seconds(5);
constexpr uint32_t kFragmentMs = 20;

}  // namespace

std::unique_ptr<PulseCapture> PulseCapture::Open(const std::string& source, uint32_t channels,
                                                 Callback callback, void* user, int& error) {
  DisableSoundServerAutostart();
  std::unique_ptr<PulseCapture> capture(new PulseCapture());
  capture->callback_ = callback;
  capture->user_ = user;
  error = capture->Connect(source, channels);
  if (error != BASS_OK) {
    return nullptr;
  }
  return capture;
}

bool PulseCapture::WaitFor(bool (*ready)(PulseCapture*)) {
  // Called with the mainloop lock held; polls so that a silent server cannot hang the caller.
  const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
  while (!ready(this)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    pa_threaded_mainloop_unlock(loop_);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    pa_threaded_mainloop_lock(loop_);
  }
  return true;
}

int PulseCapture::Connect(const std::string& source, uint32_t channels) {
  if (channels == 0 || channels > PA_CHANNELS_MAX) {
    return BASS_ERROR_FORMAT;
  }
  loop_ = pa_threaded_mainloop_new();
  if (loop_ == nullptr) {
    return BASS_ERROR_MEM;
  }
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Velloran");
  if (context_ == nullptr) {
    return BASS_ERROR_MEM;
  }
  pa_context_set_state_callback(context_, &PulseCapture::OnContextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
      pa_threaded_mainloop_start(loop_) < 0) {
    return BASS_ERROR_DRIVER;
  }
  pa_threaded_mainloop_lock(loop_);
  const bool connected = WaitFor([](PulseCapture* self) {
    const auto state = pa_context_get_state(self->context_);
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
  });
  if (!connected || pa_context_get_state(context_) != PA_CONTEXT_READY) {
    pa_threaded_mainloop_unlock(loop_);
    return BASS_ERROR_DRIVER;
  }
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_FLOAT32LE;
  spec.rate = 48000;  // replaced by the source's rate (PA_STREAM_FIX_RATE)
  spec.channels = static_cast<uint8_t>(channels);
  pa_channel_map map{};
  pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  stream_ = pa_stream_new(context_, "Velloran capture", &spec, &map);
  if (stream_ == nullptr) {
    pa_threaded_mainloop_unlock(loop_);
    return BASS_ERROR_MEM;
  }
  pa_stream_set_state_callback(stream_, &PulseCapture::OnStreamState, this);
  pa_stream_set_read_callback(stream_, &PulseCapture::OnRead, this);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000, &spec));
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_FIX_RATE |
                                                    PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
  int error = BASS_OK;
  if (pa_stream_connect_record(stream_, source.c_str(), &attr, flags) < 0) {
    error = BASS_ERROR_DEVICE;
  } else {
    const bool ready = WaitFor([](PulseCapture* self) {
      const auto state = pa_stream_get_state(self->stream_);
      return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!ready || pa_stream_get_state(stream_) != PA_STREAM_READY) {
      error = pa_context_errno(context_) == PA_ERR_NOENTITY ? BASS_ERROR_DEVICE : BASS_ERROR_DRIVER;
    } else {
      const pa_sample_spec* actual = pa_stream_get_sample_spec(stream_);
      rate_ = actual->rate;
      channels_ = actual->channels;
    }
  }
  pa_threaded_mainloop_unlock(loop_);
  return error;
}

PulseCapture::~PulseCapture() {
  if (loop_ != nullptr) {
    pa_threaded_mainloop_lock(loop_);
    started_.store(false, std::memory_order_release);
    if (stream_ != nullptr) {
      pa_stream_set_read_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_ != nullptr) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
  }
  if (context_ != nullptr) {
    pa_context_unref(context_);
  }
  if (loop_ != nullptr) {
    pa_threaded_mainloop_free(loop_);
  }
}

int PulseCapture::Start() {
  pa_threaded_mainloop_lock(loop_);
  int error = BASS_OK;
  if (Lost() || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    error = BASS_ERROR_DRIVER;
  } else if (Started()) {
    error = BASS_ERROR_ALREADY;
  } else {
    started_.store(true, std::memory_order_release);
    pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr);
    if (op != nullptr) {
      pa_operation_unref(op);
    }
  }
  pa_threaded_mainloop_unlock(loop_);
  return error;
}

int PulseCapture::Stop(bool reset) {
  pa_threaded_mainloop_lock(loop_);
  int error = BASS_OK;
  if (!Started()) {
    error = BASS_ERROR_START;
  } else {
    started_.store(false, std::memory_order_release);
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
      pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr);
      if (op != nullptr) {
        pa_operation_unref(op);
      }
      if (reset) {
        op = pa_stream_flush(stream_, nullptr, nullptr);
        if (op != nullptr) {
          pa_operation_unref(op);
        }
      }
    }
  }
  pa_threaded_mainloop_unlock(loop_);
  return error;
}

void PulseCapture::OnContextState(pa_context* context, void* user) {
  auto* self = static_cast<PulseCapture*>(user);
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
    self->lost_.store(true, std::memory_order_release);
    self->started_.store(false, std::memory_order_release);
  }
}

void PulseCapture::OnStreamState(pa_stream* stream, void* user) {
  auto* self = static_cast<PulseCapture*>(user);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    self->lost_.store(true, std::memory_order_release);
    self->started_.store(false, std::memory_order_release);
  }
}

void PulseCapture::OnRead(pa_stream* stream, size_t, void* user) {
  auto* self = static_cast<PulseCapture*>(user);
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
      return;
    }
    // A hole (data == nullptr) carries no samples; it is dropped.
    if (data != nullptr && self->started_.load(std::memory_order_acquire)) {
      self->callback_(const_cast<void*>(data), static_cast<uint32_t>(bytes), self->user_);
    }
    pa_stream_drop(stream);
  }
}

}  // namespace velloran::audio::pulse
