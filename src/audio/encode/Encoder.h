#pragma once
// One encoder: the intake that the channel's DSP calls, a bounded queue of 16-bit PCM, and a
// writer thread that drains the queue into the built-in WAV writer or into an external
// encoder program's standard input.
//
// - Intake converts and queues a block without blocking; a full queue drops the block and
//   counts it (DroppedBytes/DroppedBlocks). The writer thread reports drops as a
//   BASS_ENCODE_NOTIFY_QUEUE_FULL notification, at most once a second.
// - The encoder dies on its own when its program ends, its standard input breaks or the file
//   cannot be written: Active() turns false and the notification callback gets
//   BASS_ENCODE_NOTIFY_ENCODER (once; a death before SetNotify is reported when a callback is
//   set). Callbacks run on the encoders' service thread, never on the pull thread.
// - Stop: the queue is written out, the output finished (WAV header finalised, standard input
//   closed), the program given until the stop time-out to end, then SIGTERM and, after the
//   grace time, SIGKILL. The caller must have detached the intake first (removed the DSP).
//
// Thread contract: Intake from one thread at a time (the pull thread; real-time safe). Stop,
// SetNotify, SetOutputSink and the accessors from any thread, but Stop not from the encoder's
// own data callback (it would wait for itself; IsOwnThread tells). Stop waits for a running
// notification callback of this encoder unless called from inside it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/encode/EncoderOutlet.h"
#include "audio/encode/EncoderProcess.h"
#include "audio/encode/EncoderQueue.h"
#include "audio/encode/WavWriter.h"
#include "audio/engine/HandleTable.h"

namespace velloran::audio {

struct EncoderFormat {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
};

class Encoder : public HandleObject, public std::enable_shared_from_this<Encoder> {
 public:
  struct Options {
    uint32_t queueMs = 10000;  // queue length in milliseconds of audio (kept within limits)
    std::chrono::milliseconds stopTimeout{10000};
    std::chrono::milliseconds killGrace{2000};
  };
  static constexpr uint32_t kMinQueueMs = 200;
  static constexpr uint32_t kMaxQueueMs = 300000;

  using NotifyCallback = std::function<void(uint32_t status)>;  // BASS_ENCODE_NOTIFY_*
  using DataCallback = EncoderProcess::DataCallback;

  // Built-in writer into a file (WAV, or raw PCM when wav.header is false). Checks the format
  // and allocates the queue; Start then creates the file. Returns nullptr and sets *error
  // (BASS_ERROR_ILLPARAM, _MEM) on failure.
  static std::shared_ptr<Encoder> ForFile(const std::string& path, EncoderFormat format,
                                          const WavWriter::Options& wav, const Options& options,
                                          int* error);
  // External program; its standard input gets a WAV header first when wavHeader is set.
  // onData (may be empty) receives the program's standard output on its output thread.
  static std::shared_ptr<Encoder> ForProcess(const std::string& commandLine, EncoderFormat format,
                                             bool wavHeader, DataCallback onData,
                                             const Options& options, int* error);
  // Creates the file (BASS_ERROR_CREATE) or starts the program (BASS_ERROR_FILEOPEN), then
  // the writer thread (BASS_ERROR_MEM). Returns BASS_OK or the error. Once only.
  int Start();

  ~Encoder() override;  // Stop()
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Pull thread: count interleaved float samples of the channel.
  void Intake(const float* samples, size_t count) noexcept;

  void Stop();
  // Running, and no outlet (cast) has failed.
  bool Active() const { return !dead_.load() && !stopRequested_.load() && !outletDead_.load(); }
  void SetNotify(NotifyCallback callback);

  const EncoderFormat& Format() const { return format_; }
  bool IsProcess() const { return process_ != nullptr; }
  uint64_t DroppedBytes() const { return queue_->DroppedBytes(); }
  uint64_t DroppedBlocks() const { return queue_->DroppedBlocks(); }
  uint64_t WrittenBytes() const { return written_.load(); }  // PCM bytes handed to the output
  size_t QueuedBytes() const { return queue_->Readable(); }
  size_t QueueCapacity() const { return queue_->Capacity(); }
  // The errno of the output's last failed write (a full disk while the WAV writer waits for
  // space), 0 while writing goes through.
  int OutputError() const { return output_ ? output_->LastError() : 0; }
  // External program only (empty / 0 otherwise).
  std::string StderrTail() const;
  std::string OutputHead() const;
  uint64_t OutputBytes() const;
  void SetOutputSink(DataCallback sink);
  // Outlets of the program's standard output (external program only, else false). An outlet
  // is closed when the encoder stops; HasOutlet tells whether one of the kind is attached.
  bool AddOutlet(std::shared_ptr<EncoderOutlet> outlet);
  template <typename T>
  std::shared_ptr<T> FindOutlet() const {
    std::lock_guard lock(outletsMutex_);
    for (const auto& outlet : outlets_) {
      if (auto found = std::dynamic_pointer_cast<T>(outlet)) {
        return found;
      }
    }
    return nullptr;
  }
  // An outlet failed for good: Active() turns false and the notification callback gets status
  // (BASS_ENCODE_NOTIFY_CAST or _SERVER), once. Any thread.
  void ReportOutletFailure(uint32_t status);
  std::optional<int> WaitStatus() const;
  pid_t Pid() const { return process_ ? process_->Pid() : -1; }
  // True on this encoder's writer or output thread.
  bool IsOwnThread() const;

 private:
  struct PrivateTag {};

 public:
  Encoder(PrivateTag, EncoderFormat format, const Options& options);

 private:
  int StartWriter();

  std::string target_;  // file path or command line
  void WriterLoop();
  void MarkDead();
  void ReportDrops();
  void PostNotify(uint32_t status);
  void DeliverNotify(uint32_t status);

  EncoderFormat format_;
  Options options_;
  std::unique_ptr<EncoderQueue> queue_;
  std::unique_ptr<WavWriter> wav_;
  std::unique_ptr<EncoderProcess> process_;
  PcmOutput* output_ = nullptr;
  std::vector<uint8_t> preamble_;  // written before the first block (stream WAV header)

  std::thread writer_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> abort_{false};
  std::atomic<bool> dead_{false};
  std::atomic<uint64_t> written_{0};
  uint64_t dropsReported_ = 0;  // writer thread
  std::chrono::steady_clock::time_point lastDropReport_{};

  std::mutex stopMutex_;  // serialises Stop
  bool stopped_ = false;
  std::mutex writerMutex_;
  std::condition_variable writerCv_;
  bool writerDone_ = false;

  mutable std::mutex outletsMutex_;
  std::vector<std::shared_ptr<EncoderOutlet>> outlets_;
  std::atomic<bool> outletDead_{false};

  std::recursive_mutex notifyMutex_;  // held while a notification callback runs
  NotifyCallback notify_;
  bool missedDeath_ = false;
};

}  // namespace velloran::audio
