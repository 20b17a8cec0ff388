// Operating-system services on the host's side, for the test host and the host
// simulator: choosing where plain library names are found, dropping libraries,
// and the terminal. Never part of the plug-in. Implemented in host_win32.cpp or
// host_posix.cpp.
#pragma once

#include <cstddef>

namespace platform {

// Adds `directory` to the library search for plain file names, ahead of the
// platform's own directories, for the whole process (Windows: SetDllDirectoryA;
// POSIX: the environment variable VESTRIX_LIBRARY_DIR, which OpenLibrary
// consults). Null restores the default search.
void SetLibraryDirectory(const char* directory);

// Sets a variable of the process's environment, as the libraries it loads
// read it (Windows: SetEnvironmentVariableA; POSIX: setenv).
void SetEnvironmentValue(const char* name, const char* value);

// Writes into `text` why the last OpenLibrary of this thread failed, as the
// system words it (POSIX: dlerror; Windows: the error code and its text), for
// messages; an empty string when the system gave no reason. Call it right
// after the failed OpenLibrary, before anything else asks the loader.
void DescribeLoadFailure(char* text, std::size_t size);

// True while a library of this plain file name is loaded in the process.
bool IsLibraryLoaded(const char* name);

// Drops every remaining reference to a library of this plain file name, so that
// the next load starts it afresh. Returns whether it is unloaded now.
bool UnloadLibraryCompletely(const char* name);

// What the process holds at one moment, for the soak driver, which compares
// samples taken between sessions of the plug-in.
struct ProcessResources {
  long handles;         // open file descriptors (POSIX) or kernel object handles (Windows)
  long threads;         // threads of the process
  long library_copies;  // loaded library files of one plain name, one per distinct file
  long resident_kib;    // resident memory (POSIX VmRSS) or working set (Windows), KiB
  long free_tls_slots;  // Windows: thread-local storage slots the process can still take
                        // (of 1088; a library that takes one at every load and keeps it
                        // ends its host after that many loads); POSIX: 0, nothing to count
};

// What `handles` counts here, for reports: "fds" or "handles".
extern const char kHandlesName[];

// Samples the process; `library_name` is the plain file name whose loaded
// copies are counted. Returns false when something could not be read.
bool SampleProcessResources(const char* library_name, ProcessResources* sample);

// Prepares standard output for UTF-8 text and ANSI cursor movement when it is
// a terminal (Windows: a console); returns whether it is one.
bool PrepareTerminalOutput();

// The width of the terminal (Windows: the console window) that standard
// output goes to, in columns; 0 when it is none or does not say.
int TerminalColumns();

}  // namespace platform
