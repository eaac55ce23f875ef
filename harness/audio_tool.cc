// The sound harness from a shell, for checks by hand and for scripts:
//
//   audio_tool serve [pipewire]       starts a private server (pulseaudio,
//                                     or PipeWire) with a null sink, prints
//                                     its client environment (NAME=value
//                                     lines), then "ready", and runs until
//                                     standard input ends
//   audio_tool record SOCKET SECONDS OUT.f32
//                                     records the null sink's monitor
//   audio_tool render MODULE OUT.f32  libopenmpt's own rendering
//   audio_tool compare RECORDING.f32 MODULE|REFERENCE.f32 [FROM_MS]
//                                     aligns and compares (from the first
//                                     frame by default); exit status 0 when the
//                                     SNR is at least 60 dB with no gap
//
// Raw files are 32-bit float, little-endian, interleaved stereo, 48 kHz.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "harness/monitor_recorder.h"
#include "harness/reference_render.h"
#include "harness/signal_compare.h"
#include "harness/sound_server.h"

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int Serve(audio::ServerKind kind) {
  audio::SoundServer server(kind);
  std::string error;
  if (!server.Start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (const std::string& e : server.ClientEnv())
    std::printf("%s\n", e.c_str());
  std::printf("PULSE_SOURCE=%s\nready\n", audio::SoundServer::MonitorSource());
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}

int Record(const std::string& socket, double seconds, const std::string& out) {
  audio::MonitorRecorder recorder;
  std::string error;
  if (!recorder.Start(socket, audio::SoundServer::MonitorSource(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  recorder.Stop();
  return audio::WriteRaw(out, recorder.Samples()) ? 0 : 1;
}

int Render(const std::string& module, const std::string& out) {
  const std::vector<float> samples =
      audio::RenderReference(audio::ReadFileBytes(module));
  if (samples.empty()) {
    std::fprintf(stderr, "cannot render %s\n", module.c_str());
    return 1;
  }
  return audio::WriteRaw(out, samples) ? 0 : 1;
}

int Compare(const std::string& recording, const std::string& reference,
            double from_ms) {
  const std::vector<float> ref =
      EndsWith(reference, ".f32")
          ? audio::ReadRaw(reference)
          : audio::RenderReference(audio::ReadFileBytes(reference));
  const audio::Comparison c = audio::Compare(
      audio::ReadRaw(recording), ref, static_cast<std::size_t>(from_ms * 48));
  std::printf("%s\n", audio::Describe(c).c_str());
  return c.aligned && c.snr_db >= 60 && c.gaps.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "serve" && argc == 2)
    return Serve(audio::ServerKind::kPulseAudio);
  if (verb == "serve" && argc == 3 && std::string(argv[2]) == "pipewire")
    return Serve(audio::ServerKind::kPipeWire);
  if (verb == "record" && argc == 5)
    return Record(argv[2], std::atof(argv[3]), argv[4]);
  if (verb == "render" && argc == 4) return Render(argv[2], argv[3]);
  if (verb == "compare" && (argc == 4 || argc == 5))
    return Compare(argv[2], argv[3], argc == 5 ? std::atof(argv[4]) : 0.0);
  std::fprintf(stderr,
               "usage: %s serve [pipewire] | record SOCKET SECONDS OUT.f32 | "
               "render MODULE OUT.f32 |"
               " compare RECORDING.f32 MODULE|REFERENCE.f32 [FROM_MS]\n",
               argv[0]);
  return 2;
}
