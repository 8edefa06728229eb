#pragma once
// The WASAPI add-on interface of the audio library, on PulseAudio (or PipeWire's pulse
// service). Device n is the n-th entry of the server's list taken at the first query: every
// source (monitor sources carry the loopback flag; all carry the input flag), then every sink
// (output only). The identifier of an entry is its source or sink name. Nothing here starts a
// server (no autospawn): without a reachable server the list is empty. Capture is 32-bit float,
// interleaved, at the source's own rate (BASS_WASAPI_GetInfo reports it), with the requested
// channel count.
//
// Thread contract: the functions may be called from any non-real-time thread; one internal
// lock serialises them. The current device is per thread (BASS_WASAPI_Init and
// BASS_WASAPI_SetDevice select it). The capture callback runs on the device's own PulseAudio
// thread; it must not block or call these functions. A source that goes away (unloaded, server
// ended) stops its capture (BASS_WASAPI_IsStarted turns false); its callback is not called again.
#include "audio/bass.h"

extern "C" {

#ifndef BASS_DEVICE_LOOPBACK
#define BASS_DEVICE_LOOPBACK 8
#define BASS_DEVICE_INPUT 16
#define BASS_DEVICE_UNPLUGGED 32
#define BASS_DEVICE_DISABLED 64
#endif

#define BASS_WASAPI_TYPE_NETWORKDEVICE 0
#define BASS_WASAPI_TYPE_SPEAKERS 1
#define BASS_WASAPI_TYPE_LINELEVEL 2
#define BASS_WASAPI_TYPE_HEADPHONES 3
#define BASS_WASAPI_TYPE_MICROPHONE 4
#define BASS_WASAPI_TYPE_HEADSET 5
#define BASS_WASAPI_TYPE_HANDSET 6
#define BASS_WASAPI_TYPE_DIGITAL 7
#define BASS_WASAPI_TYPE_SPDIF 8
#define BASS_WASAPI_TYPE_HDMI 9
#define BASS_WASAPI_TYPE_UNKNOWN 10

#define BASS_WASAPI_FORMAT_FLOAT 0
#define BASS_WASAPI_FORMAT_8BIT 1
#define BASS_WASAPI_FORMAT_16BIT 2
#define BASS_WASAPI_FORMAT_24BIT 3
#define BASS_WASAPI_FORMAT_32BIT 4

#define BASS_WASAPI_EXCLUSIVE 1

typedef struct {
  const char* name;  // description
  const char* id;    // source or sink name
  DWORD type;
  DWORD flags;
  float minperiod;
  float defperiod;
  DWORD mixfreq;
  DWORD mixchans;
} BASS_WASAPI_DEVICEINFO;

typedef struct {
  DWORD initflags;
  DWORD freq;
  DWORD chans;
  DWORD format;
  DWORD buflen;
  float volmax;
  float volmin;
  float volstep;
} BASS_WASAPI_INFO;

// Capture callback: buffer holds length bytes of float samples. Returns the bytes handled.
typedef DWORD(WASAPIPROC)(void* buffer, DWORD length, void* user);

BOOL BASS_WASAPI_GetDeviceInfo(DWORD device, BASS_WASAPI_DEVICEINFO* info);
// Exclusive mode is refused (BASS_ERROR_NOTAVAIL). Only input devices can be initialised.
BOOL BASS_WASAPI_Init(int device, DWORD freq, DWORD chans, DWORD flags, float buffer, float period,
                      WASAPIPROC* proc, void* user);
BOOL BASS_WASAPI_Free(void);
BOOL BASS_WASAPI_SetDevice(DWORD device);
DWORD BASS_WASAPI_GetDevice(void);
BOOL BASS_WASAPI_Start(void);
BOOL BASS_WASAPI_Stop(BOOL reset);
BOOL BASS_WASAPI_IsStarted(void);
BOOL BASS_WASAPI_GetInfo(BASS_WASAPI_INFO* info);

}  // extern "C"
