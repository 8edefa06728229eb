#include "audio/devices/ClientStream.h"

namespace velloran::audio {

ClientStream ClientStream::Attach(HSTREAM handle) {
  ClientStream client;
  client.stream = HandleTable::Instance().Find(handle);
  if (client.stream) {
    client.handle = handle;
  }
  return client;
}

void ClientStream::Put(const void* buffer, uint32_t length) const {
  BASS_StreamPutData(handle, buffer, length);
}

}  // namespace velloran::audio
