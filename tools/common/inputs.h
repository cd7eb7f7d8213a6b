// The command line's inputs, taken the same way by every command before the cable is opened:
// numbers with their range, input files read whole within a bound, output files written beside
// their target and renamed into place only when the command's job is done, no file named for
// two roles, and the state file held under a lock. docs/kestrel.md lists the rules and bounds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

// --- Numbers ---------------------------------------------------------------------------------

// Parses decimal or 0x hex digits (nothing else: no sign, no spaces, no suffix) into a value in
// [min, max]; `multiple`, when above 1, must divide it. False with the reason, which names the
// option ("--address: -4096 is not a number from 0 to 0xFFFFFFFF").
bool ParseNumber(const std::string& text, uint64_t min, uint64_t max, uint64_t multiple,
                 uint64_t& value, std::string& error);
// The same for a fractional number of seconds in [0, max] (a plain decimal, no exponent).
bool ParseSeconds(const std::string& text, double max, double& value, std::string& error);

// --- Input files -----------------------------------------------------------------------------

// The largest input file any command reads: the largest flash the tool addresses.
inline constexpr uint64_t kMaxInputBytes = uint64_t{1} << 28;  // 256 MiB

// Reads a whole input file of at most `limit` bytes. It must be a regular file, or "-" for
// standard input (read up to the limit); a folder, device, FIFO or socket is refused without
// being read. False with the reason ("cannot read x: it is a directory").
bool ReadInputFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes,
                   std::string& error);

// --- Output files ----------------------------------------------------------------------------

// An output file written beside its target, under a name of this process's own, and renamed over
// the target by Commit. Until then the target is untouched: a command that fails, or is stopped
// by a stop signal (SIGINT, SIGTERM, SIGHUP), leaves an existing file as it was and no new one. "-"
// streams to standard output on purpose; any other target that is not a regular file (a device,
// FIFO, folder) is refused. A symbolic link is followed to the file it names.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // `role` names the file in messages ("the trace file").
    bool Open(const std::string& path, const char* role, std::string& error);
    bool isOpen() const { return stream_ != nullptr; }
    bool toStdout() const { return toStdout_; }
    // For writers that print (the recorders); write errors are found by Commit.
    FILE* stream() { return stream_; }
    bool Write(const uint8_t* bytes, size_t count, std::string& error);
    // Flushes, closes and renames the written file over the target.
    bool Commit(std::string& error);

  private:
    void Discard();

    std::string target_;
    std::string temporary_;
    std::string role_;
    FILE* stream_ = nullptr;
    bool toStdout_ = false;
    int slot_ = -1;
};

// Bytes read from standard input, kept in a file of their own (in a new temporary folder) for
// what takes a file by name: a library call, or other processes. Removed with the object.
class StandardInputCopy {
  public:
    StandardInputCopy() = default;
    ~StandardInputCopy();
    StandardInputCopy(const StandardInputCopy&) = delete;
    StandardInputCopy& operator=(const StandardInputCopy&) = delete;

    bool Write(const std::vector<uint8_t>& bytes, std::string& error);
    const std::string& path() const { return path_; }

  private:
    std::string folder_;
    std::string path_;
    int slots_[2] = {-1, -1};  // both removed on a stop signal (RemoveOnInterrupt)
};

// Whether `path` can be an output: absent, a regular file, or a link to one, in a folder that
// takes a new file; "-" when `streamable`. False with the reason.
bool CheckOutputTarget(const std::string& path, const char* role, bool streamable,
                       std::string& error);

// A name beside `path` that no other process uses ("<folder>/.<name>.kestrel-<pid>-<n>"),
// removed by the signal handler if the process is stopped while it is registered.
std::string TemporaryNameBeside(const std::string& path);
// Registers a file, or an empty folder, for removal on a stop signal (os::kStopSignals); returns
// its slot (-1 when full).
int RemoveOnInterrupt(const std::string& path);
void ForgetOnInterrupt(int slot);
// Installs the handler that removes the registered files and then ends the process as the
// signal would.
void InstallInterruptCleanup();
// The file a path names once symbolic links are followed (also a link to a file not yet there),
// so that replacing it keeps the links.
std::string FollowLinks(const std::string& path);
// Renames `from` over `to` (replacing it on every platform); false with the reason.
bool RenameIntoPlace(const std::string& from, const std::string& to, std::string& error);

// --- One file, one role ----------------------------------------------------------------------

struct NamedFile {
    const char* role;  // "--trace", "the input file"
    std::string path;  // empty or "-": not a file
};
// Refuses two roles that name one file (the same path, or two names of one file); empty when
// they are all different, else the reason.
std::string SharedFileProblem(const std::vector<NamedFile>& files);

// The files a command's own arguments name: those it reads whole before the cable is opened ("-"
// for standard input) and those it writes ("-" for standard output).
struct CommandFiles {
    std::vector<NamedFile> read;
    std::vector<NamedFile> written = {};
};

// --- State files -----------------------------------------------------------------------------

// An advisory lock on "<state>.lock", held from before the state is loaded until after it is
// saved, so that two commands on one state file run one after the other. The lock file stays
// (removing it would let a third process lock a file the second no longer sees).
class StateLock {
  public:
    StateLock() = default;
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    // Waits up to `waitSeconds` for another holder, saying once on standard error that it waits;
    // false with the reason when the lock cannot be taken.
    bool Acquire(const std::string& statePath, double waitSeconds, std::string& error);

  private:
    int fd_ = -1;
};

}  // namespace kestrel
