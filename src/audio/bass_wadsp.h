#pragma once
// The DSP plug-in add-on of the audio facade. A plug-in is a LADSPA shared object; "module" n is
// the library's n-th descriptor. A loaded plug-in is started on a channel (instantiated at the
// channel's rate and connected to its channels: a plug-in with one audio input and one audio
// output gets one instance per channel, one with as many inputs and outputs as the channel has
// channels gets a single instance) and then runs in place on the channel's pull thread as a DSP
// at the given priority. Its output never carries NaN or infinities: a block that does is
// replaced by silence and counted (see wadsp/Wadsp.h).
//
// Errors (BASS_ErrorGetCode):
//   BASS_WADSP_Load   BASS_ERROR_INIT      the add-on is not initialised
//                     BASS_ERROR_FILEOPEN  the file cannot be read
//                     BASS_ERROR_FILEFORM  the file is not a shared object with LADSPA descriptors
//                     BASS_ERROR_NOTAVAIL  the library has no descriptor at all
//   BASS_WADSP_Start  BASS_ERROR_HANDLE    unknown plug-in or channel (the channel is a mixer)
//                     BASS_ERROR_ILLPARAM  no such module
//                     BASS_ERROR_FORMAT    the module's audio ports do not fit the channel
//                     BASS_ERROR_CREATE    the module could not be instantiated
//
// Thread contract: every function is for control threads (the main thread in the program); they
// take the plug-in's own lock and may wait for a running pull pass to end. Never call them from
// a DSP callback or a capture callback.
#include "audio/bass.h"

extern "C" {

// Control flags of BASS_WADSP_CONTROL.
#define BASS_WADSP_CONTROL_HASMIN 1
#define BASS_WADSP_CONTROL_HASMAX 2
#define BASS_WADSP_CONTROL_TOGGLED 4
#define BASS_WADSP_CONTROL_INTEGER 8
#define BASS_WADSP_CONTROL_LOG 16

// One input control of a plug-in, as the slot dialog shows it. name stays valid while the
// plug-in is loaded; min/max are meaningful only with HASMIN/HASMAX (sample-rate relative bounds
// are already multiplied by the rate the plug-in was started at).
typedef struct {
  const char* name;
  float min;
  float max;
  float def;    // the default of the plug-in's hints
  float value;  // the value in force
  DWORD flags;  // BASS_WADSP_CONTROL_*
} BASS_WADSP_CONTROL;

// Initialises the add-on (win: no window on this platform, pass nullptr). A second call fails
// with BASS_ERROR_ALREADY.
BOOL BASS_WADSP_Init(void* win);
// Loads a plug-in library; x, y, width, height and proc belong to plug-in windows, which this
// platform does not have. UTF-8 path. Returns the plug-in handle, 0 on failure.
HDSP BASS_WADSP_Load(const char* file, int x, int y, int width, int height, void* proc);
// Instantiates module at the channel's rate and channel count; control values start at the
// defaults of their hints. Starting again replaces the running instance.
BOOL BASS_WADSP_Start(HDSP plugin, DWORD module, DWORD channel);
// Puts the plug-in on the channel's DSP chain; returns the DSP handle. A plug-in that is not
// started is set all the same and passes the audio through unchanged.
HDSP BASS_WADSP_ChannelSetDSP(HDSP plugin, DWORD channel, int priority);
// Takes the plug-in off its channel; once this returns, it no longer runs.
BOOL BASS_WADSP_ChannelRemoveDSP(HDSP plugin);
// Removes the plug-in from its channel and unloads it.
BOOL BASS_WADSP_FreeDSP(HDSP plugin);
// The plug-in's input controls: fills at most count entries of controls (which may be null when
// count is 0) and returns how many controls there are, or (DWORD)-1 on error.
DWORD BASS_WADSP_Config(HDSP plugin, BASS_WADSP_CONTROL* controls, DWORD count);
// Sets input control index (an index of BASS_WADSP_Config's list). The value is clamped to the
// control's range (rounded for integer controls, 0 or 1 for toggles); a value that is not a
// finite number fails with BASS_ERROR_ILLPARAM. Takes effect from the next block.
BOOL BASS_WADSP_SetControl(HDSP plugin, DWORD index, float value);

}  // extern "C"
