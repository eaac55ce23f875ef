// What the device asks of the system it runs on. Each system has its own
// file: system_posix.cc and system_win32.cc.
#ifndef MCIPLAY_PVL_MCI_SYSTEM_H
#define MCIPLAY_PVL_MCI_SYSTEM_H

#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "pvl_mci/output_chain.h"

namespace pvl {

// The folder of the running program (on Windows, of the program that opened
// the device), empty if unknown.
std::filesystem::path ProgramDir();

// True when an entry of this name is there, whatever it is or leads to (or
// when that cannot be told for another reason than its absence). The C++
// library sees links only through what they lead to on Windows.
bool NameExists(const std::filesystem::path& path);

// Runs `start`, so that the threads it starts take no signals where the
// system has them: the program's handlers (which put the terminal back,
// stop and continue the program) then always run on the program's own
// thread, never on one that renders or plays while the program goes on.
void StartThreadsWithoutSignals(const std::function<void()>& start);

// Starts the device's render thread, taking no signals, and asks for
// real-time scheduling for it where the system grants it.
std::thread StartRenderThread(std::function<void()> body);

#ifndef _WIN32
// Asks for real-time scheduling of the calling thread, as sound servers'
// clients do; nothing changes where it is not granted. The sound threads
// then keep their buffers filled on a machine kept busy by other work.
void MakeRealtime();
#endif

// Whether a sound server may have come since the last call: a socket made
// where its clients look for one, a sound card added. Never waits. Empty
// where the system cannot tell; attempts then only keep time.
std::function<bool()> WatchForServers();

// This system's sound outputs, in the order "auto" and "device" try them.
const std::vector<OutputKind>& SoundOutputs();

}  // namespace pvl

#endif  // MCIPLAY_PVL_MCI_SYSTEM_H
