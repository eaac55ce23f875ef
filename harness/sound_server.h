// A sound server of the test's own: Debian's pulseaudio, or PipeWire with
// its session manager and PulseAudio service, on a private runtime
// directory, with one null sink
// at 48 kHz stereo float whose monitor the tests record. Programs under test
// reach it through the environment ClientEnv gives; nothing of the user's
// own sound setup is touched, and no client started with that environment
// spawns a server of its own.
#ifndef MCIPLAY_HARNESS_SOUND_SERVER_H
#define MCIPLAY_HARNESS_SOUND_SERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace audio {

enum class ServerKind { kPulseAudio, kPipeWire };

class SoundServer {
 public:
  explicit SoundServer(ServerKind kind = ServerKind::kPulseAudio);
  ~SoundServer();  // stops the server and removes its directory
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Whether the programs this kind of server needs are installed.
  static bool Installed(ServerKind kind);

  // Starts the server (again, after Stop or Kill: on the same socket) and
  // waits until its socket answers and the null sink is there. On failure,
  // `error` says why (the server's own log included).
  bool Start(std::string& error);
  // Ends it with SIGTERM (SIGKILL after 2 s) and waits for it.
  void Stop();
  // Ends it at once with SIGKILL, as a crash would.
  void Kill();
  // Stops and continues it (SIGSTOP, SIGCONT): a server that hangs.
  void Pause();
  void Resume();
  bool Running() const { return !pids_.empty(); }

  // The server's processes (PipeWire: its bus, itself, its session manager
  // and its PulseAudio service).
  const std::vector<pid_t>& Pids() const { return pids_; }
  // The native protocol's socket, e.g. for PULSE_SERVER=unix:<socket>.
  std::string Socket() const;
  // The source that records what the null sink plays.
  static const char* MonitorSource();
  // "NAME=value" entries for a client: the server to use, and a client
  // configuration that never spawns a server.
  std::vector<std::string> ClientEnv() const;
  // The directory the server and its clients keep their files in.
  const std::string& Dir() const { return dir_; }
  // What the server has written to its log so far.
  std::string Log() const;
  // PipeWire's graph now, as its session manager and its own tool list it
  // (its nodes, and which are linked), for a failed test's message; empty
  // for PulseAudio, or once the server is gone.
  std::string Graph();

 private:
  bool StartPulseAudio(std::string& error);
  bool StartPipeWire(std::string& error);
  std::vector<std::string> ServerEnv() const;
  // Where PipeWire's PulseAudio service listens before its sink is there.
  std::string StagedSocket() const;
  bool Add(pid_t pid);
  pid_t Spawn(const std::vector<std::string>& argv,
              const std::vector<std::string>& env, const std::string& log);
  bool WaitReady(std::string& error);

  ServerKind kind_;
  std::string dir_;
  std::vector<pid_t> pids_;
};

}  // namespace audio

#endif  // MCIPLAY_HARNESS_SOUND_SERVER_H
