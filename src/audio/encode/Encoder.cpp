#include "audio/encode/Encoder.h"

#include <pthread.h>

#include <algorithm>

#include "audio/bass.h"
#include "audio/encode/EncoderService.h"

namespace velloran::audio {

namespace {

size_t QueueBytes(const EncoderFormat& format, uint32_t queueMs) {
  const uint64_t ms = std::clamp(queueMs, Encoder::kMinQueueMs, Encoder::kMaxQueueMs);
  const uint64_t frameBytes = 2ull * format.channels;
  return static_cast<size_t>(ms * format.sampleRate / 1000 * frameBytes);
}

bool ValidFormat(const EncoderFormat& format) {
  return format.sampleRate > 0 && format.sampleRate <= 1000000 && format.channels > 0 &&
         format.channels <= 64;
}

}  // namespace

Encoder::Encoder(PrivateTag, EncoderFormat format, const Options& options)
    : format_(format),
      options_(options),
      queue_(std::make_unique<EncoderQueue>(QueueBytes(format, options.queueMs))) {}

Encoder::~Encoder() {
  Stop();
}

std::shared_ptr<Encoder> Encoder::ForFile(const std::string& path, EncoderFormat format,
                                          const WavWriter::Options& wav, const Options& options,
                                          int* error) {
  if (!ValidFormat(format)) {
    *error = BASS_ERROR_ILLPARAM;
    return nullptr;
  }
  try {
    auto encoder = std::make_shared<Encoder>(PrivateTag{}, format, options);
    encoder->target_ = path;
    encoder->wav_ = std::make_unique<WavWriter>(format.sampleRate, format.channels, wav);
    return encoder;
  } catch (const std::bad_alloc&) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
}

std::shared_ptr<Encoder> Encoder::ForProcess(const std::string& commandLine, EncoderFormat format,
                                             bool wavHeader, DataCallback onData,
                                             const Options& options, int* error) {
  if (!ValidFormat(format)) {
    *error = BASS_ERROR_ILLPARAM;
    return nullptr;
  }
  try {
    auto encoder = std::make_shared<Encoder>(PrivateTag{}, format, options);
    encoder->target_ = commandLine;
    encoder->process_ = std::make_unique<EncoderProcess>();
    if (wavHeader) {
      encoder->preamble_ = WavWriter::StreamHeader(format.sampleRate, format.channels);
    }
    // The exit callback runs on the output thread, which ends before the encoder does.
    Encoder* self = encoder.get();
    encoder->process_->SetCallbacks(std::move(onData), [self] { self->MarkDead(); });
    return encoder;
  } catch (const std::bad_alloc&) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
}

int Encoder::Start() {
  if (output_ != nullptr || stopRequested_.load()) {
    return BASS_ERROR_ALREADY;
  }
  if (wav_) {
    if (wav_->Open(target_) != 0) {
      return BASS_ERROR_CREATE;
    }
    output_ = wav_.get();
  } else {
    if (const int rc = process_->Start(target_); rc != BASS_OK) {
      return rc;
    }
    output_ = process_.get();
  }
  return StartWriter();
}

int Encoder::StartWriter() {
  try {
    writer_ = std::thread([this] { WriterLoop(); });
  } catch (const std::system_error&) {
    return BASS_ERROR_MEM;
  }
  return BASS_OK;
}

void Encoder::Intake(const float* samples, size_t count) noexcept {
  if (dead_.load(std::memory_order_relaxed)) {
    return;
  }
  queue_->PushFloat(samples, count);
}

void Encoder::WriterLoop() {
  pthread_setname_np(pthread_self(), "enc-writer");
  using Result = PcmOutput::WriteResult;
  // The stream header goes first; a program that does not take even that is given up at stop.
  size_t headerDone = 0;
  while (headerDone < preamble_.size() && !dead_.load() && !abort_.load()) {
    size_t written = 0;
    const Result result =
        output_->Write(preamble_.data() + headerDone, preamble_.size() - headerDone, &written);
    headerDone += written;
    if (result == Result::kBroken) {
      MarkDead();
    }
  }
  for (;;) {
    const uint32_t seen = queue_->Sequence();
    for (auto span = queue_->Peek(); span.size > 0 && !abort_.load(); span = queue_->Peek()) {
      if (dead_.load()) {
        queue_->Consume(span.size);  // a dead output's data is discarded
        continue;
      }
      size_t written = 0;
      const Result result = output_->Write(span.data, span.size, &written);
      queue_->Consume(written);
      written_.fetch_add(written);
      if (result == Result::kBroken) {
        MarkDead();
      } else if (result == Result::kBusy) {
        ReportDrops();  // the output stalls: this is when the queue overflows
      }
    }
    ReportDrops();
    if (abort_.load() || (stopRequested_.load() && queue_->Readable() == 0)) {
      break;
    }
    queue_->Wait(seen);
  }
  output_->Finish();
  {
    std::lock_guard lock(writerMutex_);
    writerDone_ = true;
  }
  writerCv_.notify_all();
}

void Encoder::ReportDrops() {
  const uint64_t drops = queue_->DroppedBlocks();
  if (drops == dropsReported_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDropReport_ < std::chrono::seconds(1)) {
    return;
  }
  dropsReported_ = drops;
  lastDropReport_ = now;
  PostNotify(BASS_ENCODE_NOTIFY_QUEUE_FULL);
}

void Encoder::MarkDead() {
  if (dead_.exchange(true)) {
    return;
  }
  if (!stopRequested_.load()) {
    PostNotify(BASS_ENCODE_NOTIFY_ENCODER);
  }
}

void Encoder::PostNotify(uint32_t status) {
  // A weak reference: the encoder's own threads never hold it alive (so it is never destroyed
  // on one of them), and a stopped encoder's notification is simply not delivered.
  std::weak_ptr<Encoder> weak = weak_from_this();
  try {
    EncoderService::Instance().Post([weak, status] {
      if (auto encoder = weak.lock()) {
        encoder->DeliverNotify(status);
      }
    });
  } catch (const std::exception&) {
    // Out of memory: the notification is lost; Active() still tells the state.
  }
}

void Encoder::DeliverNotify(uint32_t status) {
  std::lock_guard lock(notifyMutex_);
  if (stopRequested_.load()) {
    return;
  }
  if (notify_) {
    notify_(status);
  } else if (status == BASS_ENCODE_NOTIFY_ENCODER) {
    missedDeath_ = true;
  }
}

void Encoder::SetNotify(NotifyCallback callback) {
  std::lock_guard lock(notifyMutex_);
  notify_ = std::move(callback);
  if (notify_ && missedDeath_) {
    missedDeath_ = false;
    PostNotify(BASS_ENCODE_NOTIFY_ENCODER);
  }
}

void Encoder::Stop() {
  std::lock_guard stopLock(stopMutex_);
  if (stopped_) {
    return;
  }
  stopped_ = true;
  stopRequested_.store(true);
  const auto deadline = std::chrono::steady_clock::now() + options_.stopTimeout;
  if (writer_.joinable()) {
    queue_->Wake();
    {
      std::unique_lock lock(writerMutex_);
      if (!writerCv_.wait_until(lock, deadline, [this] { return writerDone_; })) {
        abort_.store(true);  // the output does not take the rest: give up on it
        queue_->Wake();
      }
    }
    writer_.join();
  } else if (output_ != nullptr) {
    output_->Finish();  // started, but the writer thread could not be had
  }
  if (process_) {
    const auto left = std::max(std::chrono::steady_clock::duration::zero(),
                               deadline - std::chrono::steady_clock::now());
    process_->Shutdown(std::chrono::duration_cast<std::chrono::milliseconds>(left),
                       options_.killGrace);
  }
  // The program has ended and its output thread with it: the outlets got all there was.
  std::vector<std::shared_ptr<EncoderOutlet>> outlets;
  {
    std::lock_guard lock(outletsMutex_);
    outlets.swap(outlets_);
  }
  for (const auto& outlet : outlets) {
    outlet->Close();
  }
  std::lock_guard lock(notifyMutex_);  // waits for a notification callback in progress
  notify_ = nullptr;
}

bool Encoder::AddOutlet(std::shared_ptr<EncoderOutlet> outlet) {
  if (!process_) {
    return false;
  }
  {
    std::lock_guard lock(outletsMutex_);
    if (stopRequested_.load()) {
      return false;
    }
    outlets_.push_back(std::move(outlet));
  }
  // The sink runs on the output thread, which ends before Stop closes the outlets.
  process_->SetOutputSink([this](const uint8_t* data, size_t size) {
    std::lock_guard lock(outletsMutex_);
    for (const auto& o : outlets_) {
      o->Consume(data, size);
    }
  });
  return true;
}

void Encoder::ReportOutletFailure(uint32_t status) {
  if (outletDead_.exchange(true)) {
    return;
  }
  PostNotify(status);
}

std::string Encoder::StderrTail() const {
  return process_ ? process_->StderrTail() : "";
}
std::string Encoder::OutputHead() const {
  return process_ ? process_->OutputHead() : "";
}
uint64_t Encoder::OutputBytes() const {
  return process_ ? process_->OutputBytes() : 0;
}

void Encoder::SetOutputSink(DataCallback sink) {
  if (process_) {
    process_->SetOutputSink(std::move(sink));
  }
}

std::optional<int> Encoder::WaitStatus() const {
  return process_ ? process_->WaitStatus() : std::nullopt;
}

bool Encoder::IsOwnThread() const {
  return writer_.get_id() == std::this_thread::get_id() || (process_ && process_->IsOutputThread());
}

}  // namespace velloran::audio
