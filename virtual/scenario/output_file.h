// The files the virtual cable writes for its host (program_files.h, state files). It runs inside
// someone else's process, so a file is never half written and nothing but a regular file is
// replaced: each is written beside its target under a name of this process's own
// (".NAME.vcable-PID-N") and renamed over the target once complete. A failed write, or a process
// that ends before that (killed, or a copy made by fork), leaves the old file whole. A folder,
// device, FIFO or socket as the target is refused and left as it is; a symbolic link is followed
// to the file it names, which is replaced while the link stays.
#pragma once

#include <cstddef>
#include <string>

#include "record/call_log.h"

namespace vcable::output_file {

// The file `path` names: absolute (a relative name is taken from the current folder, so a later
// change of folder does not move it) and with symbolic links followed.
std::string Locate(const std::string& path);

// Why the located `target` cannot be replaced ("it is a FIFO, not a regular file"), or empty
// when it is a regular file or absent.
std::string NotReplaceable(const std::string& target);

// Whether two located files are one: the same name, or two names (hard links) of one file.
bool SameFile(const std::string& a, const std::string& b);

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts the file for `path`; false with the reason when its target cannot be replaced or
    // nothing can be written beside it.
    bool Open(const std::string& path, std::string& why);
    bool isOpen() const { return fd_ >= 0; }
    void Write(const void* data, size_t count);
    void Printf(const char* format, ...) VC_PRINTF_FORMAT(2, 3);
    // Writes what is left and puts the file in its target's place; false with the reason, the
    // target then as it was. Only the process that opened the file commits it.
    bool Commit(std::string& why);
    // Drops the written file (in the process that opened it; a forked copy leaves it alone).
    void Discard();

  private:
    bool Flush();
    bool Mine() const;

    std::string target_;
    std::string temporary_;
    std::string buffer_;
    int fd_ = -1;
    int error_ = 0;  // the first write's errno, reported by Commit
    long owner_ = 0;
};

// Writes `bytes` as the whole new contents of the file `path` names.
bool WriteWholeFile(const std::string& path, const void* bytes, size_t count, std::string& why);

}  // namespace vcable::output_file
