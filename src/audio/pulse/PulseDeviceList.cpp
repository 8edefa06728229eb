#include "audio/pulse/PulseDeviceList.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/StableDeviceList.h"
#include "audio/pulse/NoAutospawn.h"

namespace velloran::audio::pulse {

namespace {

constexpr auto kTimeout = std::chrono::seconds(3);

using List = std::vector<std::unique_ptr<PulseEndpoint>>;

StableDeviceList<PulseEndpoint>& TheList() {
  static StableDeviceList<PulseEndpoint> list;
  return list;
}

struct Query {
  bool failed = false;
  int pending = 0;
  std::string defaultSource;
  std::string defaultSink;
  List sources;
  List sinks;
};

template <class Port>
bool Unplugged(const Port* port) {
  return port != nullptr && port->available == PA_PORT_AVAILABLE_NO;
}

// The fields a source and a sink share; the caller sets what only one of them has.
template <class Info>
std::unique_ptr<PulseEndpoint> MakeEndpoint(const Info& info, bool input) {
  auto e = std::make_unique<PulseEndpoint>();
  e->name = info.name != nullptr ? info.name : "";
  e->description = info.description != nullptr ? info.description : e->name;
  e->input = input;
  e->unplugged = Unplugged(info.active_port);
  e->rate = info.sample_spec.rate;
  e->channels = info.sample_spec.channels;
  return e;
}

void OnSource(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* q = static_cast<Query*>(user);
  if (eol != 0 || info == nullptr) {
    q->pending--;
    return;
  }
  auto e = MakeEndpoint(*info, true);
  e->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  q->sources.push_back(std::move(e));
}

void OnSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  auto* q = static_cast<Query*>(user);
  if (eol != 0 || info == nullptr) {
    q->pending--;
    return;
  }
  q->sinks.push_back(MakeEndpoint(*info, false));
}

void OnServer(pa_context*, const pa_server_info* info, void* user) {
  auto* q = static_cast<Query*>(user);
  if (info != nullptr) {
    q->defaultSource = info->default_source_name != nullptr ? info->default_source_name : "";
    q->defaultSink = info->default_sink_name != nullptr ? info->default_sink_name : "";
  }
  q->pending--;
}

List Enumerate() {
  DisableSoundServerAutostart();
  List list;
  pa_mainloop* loop = pa_mainloop_new();
  if (loop == nullptr) {
    return list;
  }
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Velloran");
  Query q;
  bool asked = false;
  if (context != nullptr &&
      pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
      const pa_context_state_t state = pa_context_get_state(context);
      if (!PA_CONTEXT_IS_GOOD(state)) {
        q.failed = true;
        break;
      }
      if (state == PA_CONTEXT_READY && !asked) {
        asked = true;
        q.pending = 3;
        pa_operation_unref(pa_context_get_server_info(context, &OnServer, &q));
        pa_operation_unref(pa_context_get_source_info_list(context, &OnSource, &q));
        pa_operation_unref(pa_context_get_sink_info_list(context, &OnSink, &q));
      }
      if (asked && q.pending <= 0) {
        break;
      }
      if (pa_mainloop_prepare(loop, 50000) < 0 || pa_mainloop_poll(loop) < 0 ||
          pa_mainloop_dispatch(loop) < 0) {
        q.failed = true;
        break;
      }
    }
  }
  if (asked && q.pending <= 0 && !q.failed) {
    for (auto& e : q.sources) {
      e->isDefault = e->name == q.defaultSource;
      list.push_back(std::move(e));
    }
    for (auto& e : q.sinks) {
      e->isDefault = e->name == q.defaultSink;
      list.push_back(std::move(e));
    }
  }
  if (context != nullptr) {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_mainloop_free(loop);
  return list;
}

}  // namespace

void PulseDeviceList::Refresh() {
  TheList().Merge(
      Enumerate(),
      [](const PulseEndpoint& a, const PulseEndpoint& b) {
        return a.name == b.name && a.input == b.input;
      },
      [](PulseEndpoint& gone) { gone.isDefault = false; });
}

const PulseEndpoint* PulseDeviceList::Get(size_t n) {
  return TheList().Get(n, Refresh);
}

}  // namespace velloran::audio::pulse
