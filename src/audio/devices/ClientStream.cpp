#include "audio/devices/ClientStream.h"

namespace velloran::audio {

ClientStream ClientStream::Attach(HSTREAM handle) {
  ClientStream client;
  client.stream = engine::FindPushStream(handle);
  if (client.stream) {
    client.handle = handle;
  }
  return client;
}

}  // namespace velloran::audio
