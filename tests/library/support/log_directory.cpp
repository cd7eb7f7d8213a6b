#include "log_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "kestrellink.h"

#ifdef _WIN32
#include <process.h>
#endif

namespace kl::testing {

LogDirectory::LogDirectory() {
#ifdef _WIN32
    // No mkdtemp on Windows: a name from the process id and a counter, taken when it is free.
    static int counter = 0;
    std::filesystem::path made;
    do {
        made = std::filesystem::temp_directory_path() /
               ("kl-log-" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
    } while (!std::filesystem::create_directory(made));
    path_ = made.string();
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "kl-log-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
#endif
    activate();
}

void LogDirectory::activate() const { directoryB(widePath().c_str()); }

LogDirectory::~LogDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::u16string LogDirectory::widePath() const { return std::u16string(path_.begin(), path_.end()); }

std::string LogDirectory::log() const {
    std::ifstream in(path_ + "/Log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool LogDirectory::logExists() const { return std::filesystem::exists(path_ + "/Log.txt"); }

std::string LogLines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\r\n";
    return text;
}

}  // namespace kl::testing
