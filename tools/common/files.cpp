// Input and output files, the interrupt cleanup and the state lock (inputs.h).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/inputs.h"
#include "common/os.h"
#include "common/report.h"

namespace kestrel {
namespace {

std::string SizeLimitText(uint64_t limit) { return std::to_string(limit >> 20) + " MiB"; }

// Reads from fd until end of file or `limit` + 1 bytes, so that a larger input is noticed.
bool ReadAll(int fd, uint64_t limit, std::vector<uint8_t>& bytes) {
    uint8_t block[65536];
    for (;;) {
        const long n = os::ReadBytes(fd, block, sizeof block);
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.insert(bytes.end(), block, block + n);
        if (bytes.size() > limit) return true;
    }
}

// Files to remove when a stop signal (SIGINT, SIGTERM, SIGHUP) ends the process: fixed storage, so
// that the handler touches nothing but these bytes and the removals.
constexpr int kInterruptSlots = 8;
constexpr size_t kInterruptPathBytes = 4096;
char interruptPaths[kInterruptSlots][kInterruptPathBytes];
std::atomic<bool> interruptUsed[kInterruptSlots];

extern "C" void RemoveAndStop(int signal) {
    // Files first, then the folders they were in (removing a folder as a file fails, as removing
    // a file as a folder does).
    for (int slot = 0; slot < kInterruptSlots; ++slot) {
        if (interruptUsed[slot].load()) os::RemoveFile(interruptPaths[slot]);
    }
    for (int slot = 0; slot < kInterruptSlots; ++slot) {
        if (interruptUsed[slot].load()) os::RemoveEmptyFolder(interruptPaths[slot]);
    }
    report::WriteInterrupted();
    os::StopBySignal(signal);
}

}  // namespace

bool ReadInputFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes,
                   std::string& error) {
    bytes.clear();
    if (path.empty()) {
        error = "an input file name is empty";
        return false;
    }
    const bool standardInput = path == "-";
    if (standardInput) os::BinaryStandardInput();
    const int fd = standardInput ? 0 : os::OpenFile(path, os::FileMode::kRead);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    os::FileFacts facts{};
    bool ok = os::FileFactsOf(fd, facts);
    if (ok && !standardInput && !facts.regular) {
        error = "cannot read " + path + ": it is " + facts.kind + ", not a regular file";
    } else if (ok && !standardInput && facts.size > limit) {
        error = "cannot read " + path + ": it is larger than the " + SizeLimitText(limit) +
                " an input may be";
    } else if (!ReadAll(fd, limit, bytes)) {
        error = "cannot read " + path + ": " + std::strerror(errno);
    } else if (bytes.size() > limit) {
        error = "cannot read " + path + ": it is larger than the " + SizeLimitText(limit) +
                " an input may be";
    }
    if (!standardInput) os::CloseFile(fd);
    ok = error.empty();
    if (!ok) bytes.clear();
    return ok;
}

bool CheckOutputTarget(const std::string& path, const char* role, bool streamable,
                       std::string& error) {
    if (path.empty()) {
        error = std::string(role) + ": the file name is empty";
        return false;
    }
    if (path == "-") {
        if (streamable) return true;
        error = std::string("cannot write ") + role + " to standard output; give a file";
        return false;
    }
    os::FileFacts facts{};
    if (os::PathFactsOf(path, facts) && !facts.regular) {
        error = std::string("cannot write ") + role + " " + path + ": it is " + facts.kind +
                ", not a regular file" + (streamable ? " (give - for standard output)" : "");
        return false;
    }
    // The file is written beside its target and renamed: the folder must take a new file.
    const std::string probe = TemporaryNameBeside(path);
    const int fd = os::OpenFile(probe, os::FileMode::kCreateNew);
    if (fd < 0) {
        error = std::string("cannot write ") + role + " " + path + ": " + std::strerror(errno);
        return false;
    }
    os::CloseFile(fd);
    os::RemoveFile(probe.c_str());
    return true;
}

std::string TemporaryNameBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target(path);
    const std::string name = "." + target.filename().string() + ".kestrel-" +
                             std::to_string(os::ProcessId()) + "-" + std::to_string(counter++);
    return (target.parent_path() / name).string();
}

int RemoveOnInterrupt(const std::string& path) {
    if (path.size() >= kInterruptPathBytes) return -1;
    for (int slot = 0; slot < kInterruptSlots; ++slot) {
        if (interruptUsed[slot].load()) continue;
        std::memcpy(interruptPaths[slot], path.c_str(), path.size() + 1);
        interruptUsed[slot].store(true);
        return slot;
    }
    return -1;
}

void ForgetOnInterrupt(int slot) {
    if (slot >= 0) interruptUsed[slot].store(false);
}

void InstallInterruptCleanup() {
    // A signal the process was started ignoring (nohup, a background job) stays ignored.
    for (const os::StopSignal& stop : os::kStopSignals) {
        if (std::signal(stop.number, RemoveAndStop) == SIG_IGN) std::signal(stop.number, SIG_IGN);
    }
}

std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path at(path);
    std::error_code code;
    for (int hop = 0; hop < 16 && fs::is_symlink(at, code); ++hop) {
        const fs::path to = fs::read_symlink(at, code);
        if (code) break;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    return at.string();
}

bool RenameIntoPlace(const std::string& from, const std::string& to, std::string& error) {
    if (os::RenameOver(from, to)) return true;
    error = "cannot rename " + from + " to " + to + ": " + std::strerror(errno);
    return false;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
    if (stream_ && !toStdout_) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) os::RemoveFile(temporary_.c_str());
    temporary_.clear();
    ForgetOnInterrupt(slot_);
    slot_ = -1;
}

bool OutputFile::Open(const std::string& path, const char* role, std::string& error) {
    role_ = role;
    toStdout_ = path == "-";
    if (toStdout_) {
        stream_ = stdout;
        return true;
    }
    if (!CheckOutputTarget(path, role, true, error)) return false;
    // Written through a link to the file it names, so that the link stays.
    target_ = FollowLinks(path);
    std::error_code code;
    temporary_ = TemporaryNameBeside(target_);
    slot_ = RemoveOnInterrupt(temporary_);
    const int fd = os::OpenFile(temporary_, os::FileMode::kCreateNew);
    stream_ = fd >= 0 ? os::StreamOnFile(fd, "wb") : nullptr;
    if (!stream_) {
        error = std::string("cannot write ") + role + " " + path + ": " + std::strerror(errno);
        if (fd >= 0) os::CloseFile(fd);
        temporary_.clear();
        Discard();
        return false;
    }
    // A replaced file keeps its permissions.
    const std::filesystem::file_status existing = std::filesystem::status(target_, code);
    if (std::filesystem::is_regular_file(existing)) {
        std::filesystem::permissions(temporary_, existing.permissions(), code);
    }
    return true;
}

bool OutputFile::Write(const uint8_t* bytes, size_t count, std::string& error) {
    if (count == 0 || std::fwrite(bytes, 1, count, stream_) == count) return true;
    error = "cannot write " + role_ + " " + target_ + ": " + std::strerror(errno);
    return false;
}

bool OutputFile::Commit(std::string& error) {
    if (!stream_) return false;
    if (toStdout_) {
        stream_ = nullptr;
        if (std::fflush(stdout) == 0) return true;
        error = "cannot write " + role_ + " to standard output: " + std::strerror(errno);
        return false;
    }
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int reason = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!flushed || !closed) {
        error = "cannot write " + role_ + " " + target_ + ": " +
                std::strerror(flushed ? errno : reason);
        Discard();
        return false;
    }
    if (!RenameIntoPlace(temporary_, target_, error)) {
        Discard();
        return false;
    }
    temporary_.clear();
    Discard();
    return true;
}

StandardInputCopy::~StandardInputCopy() {
    if (folder_.empty()) return;
    std::remove(path_.c_str());
    os::RemoveFolder(folder_);
    for (const int slot : slots_) ForgetOnInterrupt(slot);
}

bool StandardInputCopy::Write(const std::vector<uint8_t>& bytes, std::string& error) {
    folder_ = os::MakeTemporaryFolder("kestrel-");
    if (folder_.empty()) {
        error = "cannot make a temporary folder for the copy of standard input";
        return false;
    }
    path_ = folder_ + "/stdin.bin";
    slots_[0] = RemoveOnInterrupt(folder_);
    slots_[1] = RemoveOnInterrupt(path_);
    OutputFile file;
    return file.Open(path_, "the copy of standard input", error) &&
           file.Write(bytes.data(), bytes.size(), error) && file.Commit(error);
}

StateLock::~StateLock() {
    if (fd_ >= 0) os::CloseFile(fd_);  // closing releases the lock
}

bool StateLock::Acquire(const std::string& statePath, double waitSeconds, std::string& error) {
    // Beside the file itself, so that a name through a link takes the same lock.
    const std::string lockPath = FollowLinks(statePath) + ".lock";
    fd_ = os::OpenFile(lockPath, os::FileMode::kReadWriteCreate);
    if (fd_ < 0) {
        error = "cannot lock " + statePath + " (" + lockPath + "): " + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(waitSeconds));
    bool said = false;
    while (!os::TryLockFile(fd_)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            error = statePath + " is in use by another kestrel (waited " +
                    std::to_string(static_cast<int>(waitSeconds)) +
                    " s for its lock); nothing was done";
            return false;
        }
        if (!said) {
            std::fprintf(stderr, "kestrel: waiting for another kestrel that uses %s\n",
                         statePath.c_str());
            said = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace kestrel
