#pragma once
// The audio library interface the slot code calls: a C-style facade over Velloran's own audio
// engine. Handles are 32-bit, 0 = none, never reused while the process runs. Every failing call
// sets the calling thread's last error code (BASS_ErrorGetCode), whose numbers match the texts
// of BassErrorText. All channels are decoding channels: data is pulled with
// BASS_ChannelGetData, which runs the whole chain (sources, effects, DSPs, encoders).
//
// Thread contract: every function may be called from any thread unless its comment says
// otherwise. DSP callbacks and encoder intake run on the thread that calls BASS_ChannelGetData
// (the slot's pull thread); they must not block. BASS_StreamPutData is lock-free and
// allocation-free and is meant for device capture threads.
#include <cstdint>

extern "C" {

typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
typedef DWORD HSTREAM;
typedef DWORD HRECORD;
typedef DWORD HSYNC;
typedef DWORD HDSP;
typedef DWORD HFX;
typedef DWORD HPLUGIN;
typedef DWORD HENCODE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// ---- error codes ----
#define BASS_OK 0
#define BASS_ERROR_MEM 1
#define BASS_ERROR_FILEOPEN 2
#define BASS_ERROR_DRIVER 3
#define BASS_ERROR_BUFLOST 4
#define BASS_ERROR_HANDLE 5
#define BASS_ERROR_FORMAT 6
#define BASS_ERROR_POSITION 7
#define BASS_ERROR_INIT 8
#define BASS_ERROR_START 9
#define BASS_ERROR_ALREADY 14
#define BASS_ERROR_NOCHAN 18
#define BASS_ERROR_ILLTYPE 19
#define BASS_ERROR_ILLPARAM 20
#define BASS_ERROR_NO3D 21
#define BASS_ERROR_NOEAX 22
#define BASS_ERROR_DEVICE 23
#define BASS_ERROR_NOPLAY 24
#define BASS_ERROR_FREQ 25
#define BASS_ERROR_NOTFILE 27
#define BASS_ERROR_NOHW 29
#define BASS_ERROR_EMPTY 31
#define BASS_ERROR_NONET 32
#define BASS_ERROR_CREATE 33
#define BASS_ERROR_NOFX 34
#define BASS_ERROR_NOTAVAIL 37
#define BASS_ERROR_DECODE 38
#define BASS_ERROR_DX 39
#define BASS_ERROR_TIMEOUT 40
#define BASS_ERROR_FILEFORM 41
#define BASS_ERROR_SPEAKER 42
#define BASS_ERROR_VERSION 43
#define BASS_ERROR_CODEC 44
#define BASS_ERROR_ENDED 45
#define BASS_ERROR_CAST_DENIED 2100
#define BASS_ERROR_UNKNOWN -1

// ---- configuration options ----
#define BASS_CONFIG_FLOATDSP 9
#define BASS_CONFIG_NET_TIMEOUT 11
#define BASS_CONFIG_NET_PLAYLIST 21
#define BASS_CONFIG_NET_READTIMEOUT 37
#define BASS_CONFIG_ENCODE_PRIORITY 0x10300
#define BASS_CONFIG_ENCODE_QUEUE 0x10301

// ---- channel / stream flags ----
#define BASS_SAMPLE_8BITS 1
#define BASS_SAMPLE_MONO 2
#define BASS_SAMPLE_FLOAT 256
#define BASS_STREAM_RESTRATE 0x80000
#define BASS_STREAM_DECODE 0x200000
#define BASS_MIXER_END 0x10000
#define BASS_MIXER_NONSTOP 0x20000
#define BASS_UNICODE 0x80000000u

#define BASS_POS_BYTE 0
#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1

// ---- BASS_Init ----
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
BOOL BASS_Start(void);
BOOL BASS_SetConfig(DWORD option, DWORD value);
DWORD BASS_GetConfig(DWORD option);
int BASS_ErrorGetCode(void);
DWORD BASS_GetVersion(void);

// Plug-ins: a shared object exporting the engine's plug-in entry point (see engine/Plugin.h);
// anything else fails with BASS_ERROR_FILEFORM. With BASS_UNICODE the name is UTF-8 here.
HPLUGIN BASS_PluginLoad(const char* file, DWORD flags);
BOOL BASS_PluginFree(HPLUGIN handle);

// ---- streams ----
typedef DWORD(STREAMPROC)(HSTREAM handle, void* buffer, DWORD length, void* user);
#define STREAMPROC_PUSH (reinterpret_cast<STREAMPROC*>(-1))
#define BASS_STREAMPROC_END 0x80000000u

// Push stream: freq, chans, flags (BASS_SAMPLE_FLOAT for float, else 16-bit; must include
// BASS_STREAM_DECODE), proc = STREAMPROC_PUSH.
HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user);
// Queues data; returns the amount queued, or (DWORD)-1 on error. Lock-free; when the FIFO is
// full the excess is dropped and counted, never blocking the caller.
DWORD BASS_StreamPutData(HSTREAM handle, const void* buffer, DWORD length);
// Frees a stream (push stream, mixer or URL stream); a mixer source is removed from its mixer.
BOOL BASS_StreamFree(HSTREAM handle);

typedef struct {
  DWORD freq;
  DWORD chans;
  DWORD flags;
  DWORD ctype;
  DWORD origres;
  HPLUGIN plugin;
  DWORD sample;
  const char* filename;
} BASS_CHANNELINFO;
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);

// ---- URL streams ----
// Called with the bytes of a URL stream as they are downloaded, then once with buffer nullptr
// and length 0 when the download has ended (and what it delivered has been played).
typedef void(DOWNLOADPROC)(const void* buffer, DWORD length, void* user);
typedef void(SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, void* user);
#define BASS_SYNC_END 2
#define BASS_SYNC_META 4
#define BASS_SYNC_ONETIME 0x80000000u
#define BASS_TAG_ICY 4
#define BASS_TAG_META 5

// Opens an http(s) URL (UTF-8, with or without BASS_UNICODE) as a decoding float stream at the
// stream's own rate and channel count, ready to be added to a mixer. Blocks until the format is
// known or BASS_CONFIG_NET_TIMEOUT (ms) has passed; with BASS_CONFIG_NET_PLAYLIST non-zero,
// .pls/.m3u/.m3u8 playlists are resolved to their first entry. offset must be 0. Errors:
// BASS_ERROR_NONET (no connection), BASS_ERROR_TIMEOUT, BASS_ERROR_FILEOPEN (error status,
// redirect loop), BASS_ERROR_FILEFORM (not audio, empty or looping playlist), BASS_ERROR_CODEC,
// BASS_ERROR_ILLPARAM (not an http(s) URL), BASS_ERROR_NOTAVAIL (offset).
// BASS_STREAM_RESTRATE keeps the download from running far ahead of the mixer.
HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user);
// Syncs of URL streams: BASS_SYNC_END and BASS_SYNC_META (param ignored), called on the
// stream's network thread; a sync may free the stream. Other channels: BASS_ERROR_NOTAVAIL.
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);
// BASS_TAG_META: the URL stream's title text ("StreamTitle='...';..."); BASS_TAG_ICY: its icy-*
// headers, each NUL-terminated, ending with an empty one. The text stays valid until the next
// BASS_ChannelGetTags call on the same thread. nullptr with BASS_ERROR_NOTAVAIL when none.
const char* BASS_ChannelGetTags(DWORD handle, DWORD tags);
// Nothing plays to an output device: every device number is accepted.
BOOL BASS_SetDevice(DWORD device);

// ---- mixer ----
HSTREAM BASS_Mixer_StreamCreate(DWORD freq, DWORD chans, DWORD flags);
BOOL BASS_Mixer_StreamAddChannel(HSTREAM handle, DWORD channel, DWORD flags);
BOOL BASS_Mixer_ChannelRemove(DWORD handle);

// ---- effects (BASS_FX) ----
#define BASS_FX_BFX_MIX 0x10007
#define BASS_FX_BFX_ECHO3 0x1000c
#define BASS_BFX_CHANALL -1
#define BASS_BFX_CHAN1 1
#define BASS_BFX_CHAN2 2
#define BASS_BFX_CHAN3 4
#define BASS_BFX_CHAN4 8

typedef struct {
  const int* lChannel;  // one source-channel flag set per output channel
} BASS_BFX_MIX;

typedef struct {
  float fDryMix;
  float fWetMix;
  float fDelay;  // seconds
  int lChannel;  // BASS_BFX_CHANALL or flags
} BASS_BFX_ECHO3;

DWORD BASS_FX_GetVersion(void);
HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority);
BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx);
BOOL BASS_FXSetParameters(HFX handle, const void* params);

// ---- DSP ----
// buffer holds 32-bit float interleaved samples of the channel (float DSP is always on).
typedef void(DSPPROC)(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);
HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority);
BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp);

// ---- data and positions ----
// Returns the bytes written to buffer (always exactly length for a mixer), or (DWORD)-1.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos);
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
BOOL BASS_ChannelFree(DWORD handle);
BOOL BASS_ChannelStop(DWORD handle);

// ---- recording (ALSA capture PCMs) ----
#define BASS_DEVICE_ENABLED 1
#define BASS_DEVICE_DEFAULT 2
#define BASS_DEVICE_INIT 4
typedef struct {
  const char* name;
  const char* driver;
  DWORD flags;
} BASS_DEVICEINFO;
// Device n is the n-th ALSA PCM hint that can capture (name: first line of its description,
// driver: the PCM name); asking for device 0 reads the hints again, and numbers stay stable.
// BASS_RecordInit opens the PCM and makes it the calling thread's current recording device;
// BASS_RecordStart captures it (16-bit, or float with BASS_SAMPLE_FLOAT) on a thread of its
// own, handing ~20 ms blocks to the callback, which returns FALSE to end the recording;
// BASS_RecordFree stops and closes the current device. A device lost while recording ends
// its recording (the callback is not called again). Callbacks must not block.
typedef BOOL(RECORDPROC)(HRECORD handle, const void* buffer, DWORD length, void* user);
BOOL BASS_RecordGetDeviceInfo(DWORD device, BASS_DEVICEINFO* info);
BOOL BASS_RecordInit(int device);
BOOL BASS_RecordSetDevice(DWORD device);
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);
BOOL BASS_RecordFree(void);

// ---- encoding ----
#define BASS_ENCODE_NOHEAD 1
#define BASS_ENCODE_FP_8BIT 2
#define BASS_ENCODE_FP_16BIT 4
#define BASS_ENCODE_FP_24BIT 6
#define BASS_ENCODE_FP_32BIT 8
#define BASS_ENCODE_BIGEND 16
#define BASS_ENCODE_PAUSE 32
#define BASS_ENCODE_PCM 64
#define BASS_ENCODE_RF64 128
#define BASS_ENCODE_QUEUE 0x200
#define BASS_ENCODE_CAST_NOLIMIT 0x1000
#define BASS_ENCODE_LIMIT 0x2000
#define BASS_ENCODE_AUTOFREE 0x40000

#define BASS_ENCODE_NOTIFY_ENCODER 1
#define BASS_ENCODE_NOTIFY_CAST 2
#define BASS_ENCODE_NOTIFY_SERVER 3
#define BASS_ENCODE_NOTIFY_CAST_TIMEOUT 0x10000
#define BASS_ENCODE_NOTIFY_QUEUE_FULL 0x10001

typedef void(ENCODEPROC)(HENCODE handle, DWORD channel, const void* buffer, DWORD length,
                         void* user);
typedef void(ENCODENOTIFYPROC)(HENCODE handle, DWORD status, void* user);

// cmdline: the file path for BASS_ENCODE_PCM, else the encoder command line (split by the
// program's command-line rules, started without a shell). UTF-8 whether or not BASS_UNICODE.
HENCODE BASS_Encode_Start(DWORD handle, const char* cmdline, DWORD flags, ENCODEPROC* proc,
                          void* user);
// handle: an encoder, or a channel (stops all its encoders).
BOOL BASS_Encode_Stop(DWORD handle);
DWORD BASS_Encode_IsActive(DWORD handle);
BOOL BASS_Encode_SetNotify(DWORD handle, ENCODENOTIFYPROC* proc, void* user);

// ---- casting and the built-in stream server (an external encoder's standard output) ----
#define BASS_ENCODE_CAST_PUBLIC 1
#define BASS_ENCODE_SERVER_NOHTTP 1
#define BASS_ENCODE_SERVER_META 2

// Source connection to a streaming server. server: "host:port/mount" (Icecast, HTTP source),
// "host:port,sid" (Shoutcast v2 server, legacy source login "password:#sid") or "host:port"
// (Shoutcast v1: the source port is port + 1). pass: "user:password" gives both, otherwise the
// user is "source". headers: "icy-aim:", "icy-irc:", "icy-icq:" lines (CR LF ended) become the
// stream's contact details. flags: BASS_ENCODE_CAST_PUBLIC. Connects before it returns (time-out
// BASS_CONFIG_NET_TIMEOUT); a sender thread then forwards the encoder's output, dropping (and
// counting) what a slow server does not take. Errors: BASS_ERROR_HANDLE, _ALREADY (already
// casting), _NOTAVAIL (not an encoder program), _ILLPARAM (address), _FILEOPEN (no
// connection), _CAST_DENIED (password refused), _TIMEOUT, _UNKNOWN (refused for another reason;
// the server's answer: velloran::audio::LastCastRefusal, audio/encode/BassEncode.h).
// A lost connection makes BASS_Encode_IsActive report stopped and sends
// BASS_ENCODE_NOTIFY_CAST to the notification callback.
BOOL BASS_Encode_CastInit(HENCODE handle, const char* server, const char* pass, const char* content,
                          const char* name, const char* url, const char* genre, const char* desc,
                          const char* headers, DWORD bitrate, DWORD flags);
// The cast's current title (sent to the server by the sender thread); url is ignored by
// Icecast and may be null. The built-in server puts it into its listeners' ICY metadata.
BOOL BASS_Encode_CastSetTitle(HENCODE handle, const char* title, const char* url);

// Client callback of the stream server: connect TRUE before a listener is served (return FALSE
// to refuse it), FALSE when it has gone. client is "address:port"; headers are the request
// headers (read only here).
typedef BOOL(ENCODECLIENTPROC)(HENCODE handle, BOOL connect, const char* client, char* headers,
                               void* user);
// The built-in stream server on "address:port" (empty address: all addresses; port 0: any
// free port). buffer: bytes kept for the listeners (a listener that falls further behind is
// dropped); burst: bytes a new listener gets at once. flags: BASS_ENCODE_SERVER_META (ICY
// metadata for listeners that ask for it). Returns the port, 0 on error.
DWORD BASS_Encode_ServerInit(HENCODE handle, const char* port, DWORD buffer, DWORD burst,
                             DWORD flags, ENCODECLIENTPROC* proc, void* user);

}  // extern "C"
