#pragma once
// The ASIO add-on interface of the audio library, on JACK. Driver 0 is the default JACK server
// (JACK_DEFAULT_SERVER or "default"); it is never started by this program (JackNoStartServer),
// so a machine without a running server lists no driver. The driver's input channels are the
// server's physical capture ports, named by their full port names; its output channels are its
// physical playback ports.
//
// Differences from a hardware ASIO driver: the JACK server fixes the sample rate
// (BASS_ASIO_SetRate succeeds only with the server's rate), the buffer length and the thread
// count passed to BASS_ASIO_Start are kept but the server decides them, and the control panel
// is the JACK control program (qjackctl) when one is installed, started without waiting for it.
//
// Thread contract: the functions may be called from any non-real-time thread; one internal
// lock serialises them. The current device is per thread (BASS_ASIO_Init and
// BASS_ASIO_SetDevice select it). Channel callbacks run on the JACK process thread (real time):
// they must not block, allocate or call these functions. A driver whose server goes away stops
// (BASS_ASIO_IsStarted turns false) and its callbacks are no longer called.
#include "audio/bass.h"

extern "C" {

typedef struct {
  const char* name;    // description of the driver
  const char* driver;  // the JACK server name
} BASS_ASIO_DEVICEINFO;

typedef struct {
  char name[64];  // driver name
  DWORD version;
  DWORD inputs;
  DWORD outputs;
  DWORD bufmin;
  DWORD bufmax;
  DWORD bufpref;
  int bufgran;
  DWORD initflags;
} BASS_ASIO_INFO;

typedef struct {
  DWORD group;
  DWORD format;
  char name[256];  // the JACK port's full name
} BASS_ASIO_CHANNELINFO;

#define BASS_ASIO_FORMAT_16BIT 16
#define BASS_ASIO_FORMAT_24BIT 17
#define BASS_ASIO_FORMAT_32BIT 18
#define BASS_ASIO_FORMAT_FLOAT 19

// length is in bytes of interleaved samples of the channel and the channels joined to it.
// For an input the buffer holds the captured data; for an output the callback fills it.
// Returns the bytes it handled (ignored for inputs).
typedef DWORD(ASIOPROC)(BOOL input, DWORD channel, void* buffer, DWORD length, void* user);

BOOL BASS_ASIO_GetDeviceInfo(DWORD device, BASS_ASIO_DEVICEINFO* info);
BOOL BASS_ASIO_Init(int device, DWORD flags);
BOOL BASS_ASIO_Free(void);
BOOL BASS_ASIO_SetDevice(DWORD device);
DWORD BASS_ASIO_GetDevice(void);
BOOL BASS_ASIO_GetInfo(BASS_ASIO_INFO* info);
BOOL BASS_ASIO_ChannelGetInfo(BOOL input, DWORD channel, BASS_ASIO_CHANNELINFO* info);
BOOL BASS_ASIO_CheckRate(double rate);
BOOL BASS_ASIO_SetRate(double rate);
double BASS_ASIO_GetRate(void);
// proc == nullptr disables the channel (and removes the channels joined to it).
BOOL BASS_ASIO_ChannelEnable(BOOL input, DWORD channel, ASIOPROC* proc, void* user);
BOOL BASS_ASIO_ChannelSetFormat(BOOL input, DWORD channel, DWORD format);
// Joins channel to the enabled channel channel2 (-1 removes the join): its samples follow
// those of channel2 and of the channels joined before it in each frame. A channel past the
// server's last port may be joined; it carries silence, so a group keeps its width.
BOOL BASS_ASIO_ChannelJoin(BOOL input, DWORD channel, int channel2);
BOOL BASS_ASIO_Start(DWORD buflen, DWORD threads);
// An addition of this implementation: applies channels enabled, disabled, joined or given a
// format since the start to the running driver without stopping it (JACK adds and removes the
// ports of a running client), so the other channels' callbacks go on without a gap. When it
// returns, a disabled channel's callback is no longer called. BASS_ERROR_START when not started.
BOOL BASS_ASIO_Update(void);
BOOL BASS_ASIO_Stop(void);
BOOL BASS_ASIO_IsStarted(void);
BOOL BASS_ASIO_ControlPanel(void);

}  // extern "C"

namespace velloran::audio::jack {
// True when a JACK control program is installed (the control panel can run).
bool ControlPanelAvailable();
}  // namespace velloran::audio::jack
