#include "harness/reference_render.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>

namespace audio {

std::vector<float> RenderReference(const std::vector<std::uint8_t>& module) {
  std::vector<float> out;
  try {
    std::ostream quiet(nullptr);
    const std::map<std::string, std::string> ctls = {{"play.at_end", "stop"}};
    openmpt::module m(module, quiet, ctls);
    m.set_repeat_count(0);
    std::vector<float> chunk(2 * 480);
    for (;;) {
      const std::size_t n = m.read_interleaved_stereo(48000, 480, chunk.data());
      if (n == 0) break;
      out.insert(out.end(), chunk.begin(),
                 chunk.begin() + static_cast<std::ptrdiff_t>(2 * n));
    }
  } catch (const std::exception&) {
    out.clear();
  }
  return out;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::vector<float> ReadRaw(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  std::vector<float> samples(bytes.size() / sizeof(float) / 2 * 2);
  std::copy_n(bytes.data(), samples.size() * sizeof(float),
              reinterpret_cast<std::uint8_t*>(samples.data()));
  return samples;
}

bool WriteRaw(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return static_cast<bool>(out);
}

}  // namespace audio
