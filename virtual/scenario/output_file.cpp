#include "scenario/output_file.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "scenario/open_flags.h"

namespace vcable::output_file {
namespace {

namespace fs = std::filesystem;

constexpr size_t kFlushBytes = 64 * 1024;
constexpr int kMaxLinkHops = 16;

const char* KindOf(fs::file_type type) {
    switch (type) {
        case fs::file_type::directory:
            return "a directory";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::symlink:
            return "a symbolic link";
        default:
            return "something";
    }
}

std::string TemporaryBeside(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const fs::path at(target);
    const std::string name = "." + at.filename().string() + ".vcable-" + std::to_string(getpid()) +
                             "-" + std::to_string(counter++);
    return (at.parent_path() / name).string();
}

// Puts the written file in the target's place. An absent target gets a new name, which never
// replaces a file that appeared meanwhile; a regular one is renamed over.
bool PutInPlace(const std::string& temporary, const std::string& target, std::string& why) {
    std::error_code code;
    if (fs::symlink_status(target, code).type() == fs::file_type::not_found) {
        fs::create_hard_link(temporary, target, code);
        if (!code) {
            fs::remove(temporary, code);
            return true;
        }
        // The name is taken now, or the file system has no hard links: as for a present file.
    }
    why = NotReplaceable(target);
    if (!why.empty()) return false;
    fs::rename(temporary, target, code);
    if (code) why = code.message();
    return !code;
}

}  // namespace

std::string Locate(const std::string& path) {
    std::error_code code;
    fs::path at = fs::absolute(path, code);
    if (code) at = path;
    for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(at, code); ++hop) {
        const fs::path to = fs::read_symlink(at, code);
        if (code) break;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    return at.string();
}

std::string NotReplaceable(const std::string& target) {
    std::error_code code;
    const fs::file_type type = fs::symlink_status(target, code).type();
    if (type == fs::file_type::not_found || type == fs::file_type::regular) return "";
    if (type == fs::file_type::none) return "it cannot be examined (" + code.message() + ")";
    return std::string("it is ") + KindOf(type) + ", not a regular file";
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code code;
    if (fs::equivalent(a, b, code)) return true;
    std::error_code other;
    const fs::path x = fs::weakly_canonical(a, code);
    const fs::path y = fs::weakly_canonical(b, other);
    return code || other ? a == b : x == y;
}

bool OutputFile::Mine() const { return owner_ == static_cast<long>(getpid()); }

bool OutputFile::Open(const std::string& path, std::string& why) {
    Discard();
    target_ = Locate(path);
    why = NotReplaceable(target_);
    if (!why.empty()) {
        why = "cannot write " + target_ + ": " + why;
        return false;
    }
    temporary_ = TemporaryBeside(target_);
    fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        why = "cannot write " + target_ + ": " + std::strerror(errno);
        temporary_.clear();
        return false;
    }
    owner_ = static_cast<long>(getpid());
    error_ = 0;
    return true;
}

void OutputFile::Write(const void* data, size_t count) {
    if (!isOpen() || error_ != 0 || !Mine()) return;
    buffer_.append(static_cast<const char*>(data), count);
    if (buffer_.size() >= kFlushBytes) Flush();
}

void OutputFile::Printf(const char* format, ...) {
    if (!isOpen() || error_ != 0 || !Mine()) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char line[512];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
        Write(line, static_cast<size_t>(n));
    } else if (n > 0) {
        std::string longer(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(longer.data(), longer.size(), format, again);
        Write(longer.data(), static_cast<size_t>(n));
    }
    va_end(again);
    va_end(args);
}

bool OutputFile::Flush() {
    size_t done = 0;
    while (error_ == 0 && done < buffer_.size()) {
        const auto n =
            write(fd_, buffer_.data() + done, static_cast<unsigned>(buffer_.size() - done));
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            error_ = n == 0 ? EIO : errno;
        }
    }
    buffer_.clear();
    return error_ == 0;
}

bool OutputFile::Commit(std::string& why) {
    if (!isOpen() || !Mine()) {
        why = "cannot write " + target_ + ": not started by this process";
        Discard();
        return false;
    }
    Flush();
    const int closed = close(fd_);
    const int reason = closed != 0 ? errno : error_;
    fd_ = -1;
    if (reason != 0) {
        why = "cannot write " + target_ + ": " + std::strerror(reason);
        Discard();
        return false;
    }
    // A replaced file keeps its permissions.
    std::error_code code;
    const fs::file_status existing = fs::status(target_, code);
    if (fs::is_regular_file(existing)) fs::permissions(temporary_, existing.permissions(), code);
    if (!PutInPlace(temporary_, target_, why)) {
        why = "cannot write " + target_ + ": " + why;
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::Discard() {
    // A forked copy closes its own descriptor only: the file is the opener's.
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty() && Mine()) std::remove(temporary_.c_str());
    temporary_.clear();
    buffer_.clear();
}

bool WriteWholeFile(const std::string& path, const void* bytes, size_t count, std::string& why) {
    OutputFile file;
    if (!file.Open(path, why)) return false;
    file.Write(bytes, count);
    return file.Commit(why);
}

}  // namespace vcable::output_file
