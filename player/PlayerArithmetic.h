// The engine's number conversions, kept apart so their exact arithmetic can be checked.
#pragma once

#include <cstddef>
#include <cstdint>

#include <platform/waveout.h>
#include "wavfile/WavFmt.h"

// The device rate for a file rate and a factor: the product in single precision truncated
// toward zero, its low 32 bits (0.9 x 48000 gives 43200, not 43199).
uint32_t ScaleRate(uint32_t rate, float factor);

// Stretch value for the driver: factor x 10000 in single precision, 1000..15000, else 10000.
uint32_t StretchValue(float factor);

// The punch-in rounded down to a whole sample frame of the format, so that the first byte
// played starts a frame: a cut frame would shift every sample after it. MPEG streams are
// skipped byte for byte (their decoder finds the next frame by itself).
int32_t WholeFramePunchIn(int32_t bytes, const TWavFmt& format);

// Device volume for a level clamped to 0..1: the 16-bit word in both halves.
uint32_t VolumeWord(float level);

// Milliseconds for a position the service answered in bytes, samples or milliseconds. A rate
// below 100 Hz gives 0; the sample count times 10 is computed wide enough not to wrap.
uint32_t MillisecondsFromPosition(const MMTIME& time, TWavFmt& format);

// "%02ld:%02ld:%02ld:%02ld": hours (wrapping at 60), minutes, seconds, hundredths.
void FormatTimeText(uint32_t milliseconds, char* text, size_t size);
