#pragma once
// Engine-level views of the DSP plug-in add-on that the slot code and tests use beside the
// C functions of bass_wadsp.h.
//
// Thread contract: any non-real-time thread.
#include <cstdint>

namespace velloran::audio::wadsp {

// How often BASS_WADSP_Init has succeeded in this process (0 or 1).
uint32_t InitCount();
// Blocks of a plug-in's output that held NaN or infinities and were replaced by silence since it
// was loaded; 0 for an unknown handle.
uint64_t InvalidBlocks(uint32_t plugin);

}  // namespace velloran::audio::wadsp
