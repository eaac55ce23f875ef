// What a module should sound like: libopenmpt's own rendering of it at
// 48 kHz stereo float, played once to its last row, as the device plays it.
// Also the raw files the tools exchange: 32-bit float, little-endian,
// interleaved stereo.
#ifndef MCIPLAY_HARNESS_REFERENCE_RENDER_H
#define MCIPLAY_HARNESS_REFERENCE_RENDER_H

#include <cstdint>
#include <string>
#include <vector>

namespace audio {

// Empty when libopenmpt cannot read `module`.
std::vector<float> RenderReference(const std::vector<std::uint8_t>& module);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
std::vector<float> ReadRaw(const std::string& path);
bool WriteRaw(const std::string& path, const std::vector<float>& samples);

}  // namespace audio

#endif  // MCIPLAY_HARNESS_REFERENCE_RENDER_H
