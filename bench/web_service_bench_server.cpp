// The recordings web service under load, for bench/web_service_bench.sh: a slot list of
// generator slots that record (WAV, real time, their own pull threads, the rotation check every
// 100 ms on this thread), slot 0's recordings table filled with a number of hourly rows
// (2010-01-01 onwards, one hour each), and one large recording file in slot 0's folder for range
// downloads. The web server listens on 127.0.0.1:<port> with anonymous read-only access and no
// per-address limit, so a load generator's connections from one address are all accepted.
//   web_service_bench_server <port> <folder> <slots> <rows> <big-file-MiB>
// Prints "ready <port> <id of the large file> <path of the large file>" once it serves, and
// runs until SIGTERM or SIGINT.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/ConfigFile.h"
#include "core/DateTime.h"
#include "slots/TSlotList.h"
#include "web/TWebService.h"
#include "web/WebFileList.h"
#include "web/WebServer.h"

namespace {

using velloran::slots::TSlotInfo;

int64_t FillRecordings(TSlotInfo& slot, int rows, const std::string& bigName) {
  const auto connection = slot.GetDatabaseConnection();
  connection->BeginTransaction();
  const auto insert = connection->PrepareStatement(
      "INSERT INTO recordings (starttime, duration, filename) VALUES (:start, :duration, :file)");
  const velloran::TDateTime first = velloran::EncodeDate(2010, 1, 1);
  for (int i = 0; i < rows; ++i) {
    const velloran::TDateTime start = first + i / 24.0;
    insert->SetTimestampByName("start", start);
    insert->SetFloatByName("duration", 3600.0);
    insert->SetStringByName("file",
                            velloran::FormatDateTime("yyyy/mm/dd/yyyy-mm-dd-hh.wav", start));
    insert->ExecuteUpdatePrepared();
  }
  insert->SetTimestampByName("start", velloran::EncodeDate(2009, 12, 31));
  insert->SetFloatByName("duration", 3600.0);
  insert->SetStringByName("file", bigName);
  insert->ExecuteUpdatePrepared();
  connection->CommitTransaction();
  const auto rowsRead =
      connection->PrepareStatement("SELECT MAX(id) FROM recordings WHERE filename = :file");
  rowsRead->SetStringByName("file", bigName);
  const auto result = rowsRead->ExecuteQueryPrepared();
  return result->First() ? result->GetInt(1) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <port> <folder> <slots> <rows> <big-file-MiB>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[2];
  const int slotCount = std::atoi(argv[3]);
  const int rows = std::atoi(argv[4]);
  const int64_t bigMiB = std::atoll(argv[5]);

  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

  {
    std::ofstream ini(folder + "/Velloran.ini");
    for (int i = 0; i < slotCount; ++i) {
      ini << "[Slot" << i << "]\nName=Bench " << i + 1
          << "\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nFolder=" << folder << "/rec" << i
          << "\n";
    }
  }
  velloran::ConfigFile config(folder + "/Velloran.ini");
  BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
  const auto catalogue = velloran::audio::BuildDeviceCatalogue(config);
  std::atomic<int> logLines{0};
  velloran::slots::TSlotList list(config, catalogue.get(), [] {});
  for (int i = 0; i < slotCount; ++i) {
    list.CreateSlot(i, false, [&logLines](const void*, const std::string&) { ++logLines; });
  }
  list.CheckRotation();

  // The large file lies in slot 0's folder like any recording.
  const std::string bigName = "big/large-recording.wav";
  const std::string bigPath = folder + "/rec0/" + bigName;
  std::filesystem::create_directories(folder + "/rec0/big");
  {
    std::ofstream big(bigPath, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) {
      block[i] = static_cast<char>(i * 7 + i / 4096);
    }
    for (int64_t i = 0; i < bigMiB; ++i) {
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  const int64_t bigId = slotCount > 0 ? FillRecordings(*list.Slot(0), rows, bigName) : 0;

  velloran::web::TWebSlots slots;
  slots.count = [&list] { return list.Count(); };
  slots.slot = [&list](int index) { return list.Slot(index); };
  velloran::web::TWebService service(slots);
  const velloran::web::TWebFileList noFiles;
  velloran::web::TWebServerOptions options;
  options.files = &noFiles;
  options.limits.maxConnections = 1024;
  options.limits.maxConnectionsPerAddress = 1024;
  velloran::web::TWebServer server(options, nullptr, &service);
  velloran::web::TWebServerSettings settings;
  settings.port = std::string("127.0.0.1:") + argv[1];
  settings.anonymousAccess = velloran::web::TAccessLevel::alReadOnly;
  server.Start(settings);
  std::printf("ready %u %lld %s\n", server.Port(), static_cast<long long>(bigId), bigPath.c_str());
  std::fflush(stdout);

  const timespec tick{0, 100'000'000};
  while (sigtimedwait(&signals, nullptr, &tick) < 0) {
    list.CheckRotation();
  }
  server.Stop();
  int recording = 0;
  for (int i = 0; i < list.Count(); ++i) {
    recording += list.Slot(i) != nullptr && list.Slot(i)->Encoder() != 0 ? 1 : 0;
  }
  std::fprintf(stderr, "slots recording at the end: %d of %d (%d log lines)\n", recording,
               slotCount, logLines.load());
  return 0;
}
