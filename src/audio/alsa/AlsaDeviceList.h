#pragma once
// The ALSA capture PCMs the recording functions offer: the PCM device hints that can capture
// (IOID absent or "Input"), in hint order. Numbers are stable for the life of the process: a
// later refresh appends new PCMs and keeps those that have gone as absent entries, so a number
// never comes to name another device. Enumeration reads the configuration only; it opens
// no device, so it is bounded and never reaches a sound server.
//
// Thread contract: any non-real-time thread; an internal lock guards the list. Entries are
// never freed while the process runs, so the texts handed out stay valid.
#include <cstddef>
#include <string>

namespace velloran::audio::alsa {

struct AlsaCaptureDevice {
  std::string pcmName;  // the hint's NAME, e.g. "default", "hw:CARD=PCH,DEV=0"
  // First line of the hint's DESC, or NAME when it has none; when several PCMs share that
  // text, each gets its NAME added in parentheses.
  std::string description;
  bool isDefault = false;
  bool present = true;  // false once the configuration no longer lists it
};

class AlsaDeviceList {
 public:
  // Reads the hints again and merges them into the list (enumeration walks from device 0,
  // which refreshes it).
  static void Refresh();
  // Entry n of the list taken last (taken on first use); nullptr past the end.
  static const AlsaCaptureDevice* Get(size_t n);
  static size_t Count();
};

}  // namespace velloran::audio::alsa
