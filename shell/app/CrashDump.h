#pragma once
// Crash dumps: when a thread of the shell faults (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL) or aborts (SIGABRT), a handler writes a text dump into the
// temporary folder as "Kestrova_x738A_<seconds since 1970>.dmp" and then lets
// the signal's default action end the process, so that the exit status
// reports death by that signal. The shell does not restart itself.
//
// The dump holds the signal, its code and fault address, the faulting
// thread, the instruction pointer, a backtrace and the process's memory map.
// The file is created exclusively: a second crash within the same second
// writes no dump. When the file cannot be created nothing is written and the
// process still ends by the signal.

namespace kestrova {

// Installs the handler for the whole process and gives the calling thread an
// alternate signal stack, so that a stack overflow on it still dumps. Call
// once, early, on the main thread. Everything the handler needs (the dump
// folder, the unwinder) is prepared here, because the handler itself may
// neither allocate nor take locks.
void installCrashHandler();

// Gives the calling thread an alternate signal stack of its own, so that a
// stack overflow on it is dumped as well (other threads still dump every
// other fault). The stack lives until the thread ends.
void installCrashStackForThisThread();

}  // namespace kestrova
