// What the tool needs from the operating system: loading libraries by path and finding symbols,
// where the running program is, the vendor library the system would load, terminals, temporary
// folders, child processes and signals. One file per platform implements it (os_linux.cpp,
// os_windows.cpp).
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kestrellink.h"

namespace kestrel::os {

// The file name of the vendor's D2XX library, as the KestrelLink library loads it.
#ifdef _WIN32
inline constexpr const char* kVendorLibraryName = "ftd2xx.dll";
#else
inline constexpr const char* kVendorLibraryName = "libftd2xx.so";
#endif

// Loads a library by its full path so that a later load by its plain file name (the KestrelLink
// library's) gets this copy. Returns null with the loader's reason in `error`.
void* LoadLibraryFile(const std::string& path, std::string& error);
// A symbol of a loaded library, or null.
void* FindSymbol(void* library, const char* name);

// The folder of the running executable (no trailing separator).
std::string ExecutableFolder();
// The file of the loaded module that holds `address`, or empty.
std::string ModulePath(const void* address);
// The file the system's loader picks for kVendorLibraryName, as the KestrelLink library would
// load it; empty when there is none.
std::string SystemVendorLibrary();

bool IsFile(const std::string& path);
// Renames `from` over `to`, replacing it; false with errno set.
bool RenameOver(const std::string& from, const std::string& to);
// Takes an exclusive advisory lock on an open file without waiting; false when another process
// holds it. Closing the file releases it.
bool TryLockFile(int fd);

// Files by descriptor, read and written byte for byte (no newline translation on Windows).
enum class FileMode {
    kRead,             // to read; a FIFO opened so does not wait for a writer
    kCreateNew,        // to write a new file, failing when the name exists
    kReadWriteCreate,  // to read and write, created when missing
    kAppendCreate,     // to append to, created when missing
};
// A descriptor, or -1 with errno set.
int OpenFile(const std::string& path, FileMode mode);
// Up to `size` bytes (retried when a signal interrupts); 0 at the end, -1 with errno set.
long ReadBytes(int fd, void* buffer, size_t size);
// From a signal handler too: writes the bytes once, unbuffered, ignoring failure.
void WriteBytes(int fd, const void* bytes, size_t size);
void CloseFile(int fd);
// A stream on an open descriptor that takes it over, or null.
FILE* StreamOnFile(int fd, const char* mode);
int StreamFile(FILE* stream);

// What a file is: whether it is regular, its size, and for one that is not, what it is in words
// ("a directory", "a FIFO", ...).
struct FileFacts {
    bool regular;
    uint64_t size;
    const char* kind;
};
// False with errno set when the file cannot be looked at.
bool FileFactsOf(int fd, FileFacts& facts);
bool PathFactsOf(const std::string& path, FileFacts& facts);
// From a signal handler too: removes a file, or an empty folder; a failure is ignored.
void RemoveFile(const char* path);
void RemoveEmptyFolder(const char* path);

bool StdoutIsTerminal();
// Points standard output at standard error and returns a stream on the former standard output,
// or null when it cannot.
FILE* DivertStdout();
// A new, empty folder "<prefix>XXXXXX" under the system's temporary folder; empty on failure.
std::string MakeTemporaryFolder(const char* prefix);
void RemoveFolder(const std::string& path);

// The signals that ask the tool to stop, by name: SIGINT (^C), SIGTERM and, where there is one,
// SIGHUP. Each ends a command as its own signal would, after the command's cleanup.
struct StopSignal {
    int number;
    const char* name;
};
inline constexpr StopSignal kStopSignals[] = {{SIGINT, "SIGINT"},
                                              {SIGTERM, "SIGTERM"},
#ifdef SIGHUP
                                              {SIGHUP, "SIGHUP"}
#endif
};

// The files a child's standard streams are: `input` is read (the null device when empty), the
// other two are created.
struct ChildStreams {
    std::string input;
    std::string output;
    std::string errors;
};
// Starts this program again with `arguments` (argv[1] on) and this environment with `variable`
// ("NAME=value", or empty) in place of any of that name; returns the child's id, or -1 with the
// reason in `error`. On Linux the child has a process group of its own, out of a terminal's ^C.
long StartSelf(const std::vector<std::string>& arguments, const std::string& variable,
               const ChildStreams& streams, std::string& error);
// Whether a child StartSelf started has ended, waiting up to `milliseconds` for it (less when a
// signal arrives); then `code` is its exit code (128 + the signal when one ended it; on Windows
// 130 when ^C ended it, 255 when an exception did). A child is collected once.
bool ChildEnded(long id, int milliseconds, int& code);
// Passes a stop signal on to a child that has not been collected. On Windows the console already
// hands ^C to every process attached to it, and there is no other signal: nothing is sent.
void SignalChild(long id, int signal);
// Ends a child that has not been collected at once (SIGKILL; TerminateProcess).
void KillChild(long id);
// From here on the stop signals are counted instead of ending the process; CaughtStopSignal gives
// the last one caught, or 0.
void CatchStopSignals();
int CaughtStopSignal();
long ProcessId();
// In a process StartSelf started: when the process `parent` ends, this one gets SIGTERM (at once
// if it has ended already), so that no child outlives the run that started it.
void StopWithParent(long parent);
// As the last call of a signal's handler, or of a run stopped by one: ends the process as
// `signal` ends it by default, a shell seeing exit code 128 + the signal (on Windows, where the
// default gives 3, by exiting with that code).
void StopBySignal(int signal);
// Standard input gives its bytes as they are (Windows reads it as text unless told).
void BinaryStandardInput();

// From a signal handler too: writes the bytes to standard error, unbuffered.
void WriteStandardError(const char* text, size_t size);
// Releases a string the library handed out (OpenDevice_EDP2's text): free() on Linux,
// SysFreeString() on Windows.
void FreeLibraryString(kl_bstr text);

}  // namespace kestrel::os
