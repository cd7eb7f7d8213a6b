#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

// Output files are written byte for byte (no newline translation on Windows).
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace kestrel {

bool ReadInputFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    bool ok = file != nullptr;
    bytes.clear();
    uint8_t block[65536];
    while (ok) {
        const size_t n = std::fread(block, 1, sizeof block, file);
        bytes.insert(bytes.end(), block, block + n);
        if (n < sizeof block) {
            ok = !std::ferror(file);
            break;
        }
    }
    const int reason = errno;
    if (file) std::fclose(file);
    if (!ok) error = "cannot read " + path + ": " + std::strerror(reason);
    return ok;
}

bool CheckInputFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    uint8_t byte = 0;
    const bool ok = file && (std::fread(&byte, 1, 1, file) == 1 || !std::ferror(file));
    const int reason = errno;
    if (file) std::fclose(file);
    if (!ok) error = "cannot read " + path + ": " + std::strerror(reason);
    return ok;
}

bool CheckOutputFile(const std::string& path, std::string& error) {
    OutputFile probe;
    return probe.Open(path, error);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
    if (created_ && !written_) unlink(path_.c_str());
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    path_ = path;
    struct stat info {};
    const bool existed = stat(path.c_str(), &info) == 0;
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_BINARY, 0666);
    if (fd_ < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    created_ = !existed;
    return true;
}

bool OutputFile::Write(const uint8_t* bytes, size_t count, std::string& error) {
    bool ok = ftruncate(fd_, 0) == 0;
    for (size_t done = 0; ok && done < count;) {
        const ssize_t n = write(fd_, bytes + done, count - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    int reason = errno;
    if (close(fd_) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    fd_ = -1;
    if (!ok) error = "cannot write " + path_ + ": " + std::strerror(reason);
    written_ = ok;
    return ok;
}

}  // namespace kestrel
