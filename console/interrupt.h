// Ctrl+C, Ctrl+Break and the console window closing. Windows runs a
// console's control handler on a thread of its own, and a media device
// takes commands only from the thread that opened it: the handler records
// the event and wakes the main thread's wait for input, and the program
// ends the run itself (the player ends the status line, closes the device
// and exits with 0). Over a POSIX terminal the signals end the program
// before any handler is asked (winapi/README.md, "Signals").
#ifndef MCIPLAY_CONSOLE_INTERRUPT_H
#define MCIPLAY_CONSOLE_INTERRUPT_H

// Installs the handler; the program calls it before its first command.
void CatchInterrupts();

// True once Ctrl+C, Ctrl+Break or a close of the window came.
bool Interrupted();

#endif  // MCIPLAY_CONSOLE_INTERRUPT_H
