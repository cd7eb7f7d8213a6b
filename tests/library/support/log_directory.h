// A fresh directory for "Log.txt", removed with everything in it when the test ends.
#pragma once

#include <string>

namespace kl::testing {

class LogDirectory {
  public:
    // Creates the directory and makes it the library's log directory. A fixture's reset clears
    // the library's directory again: fixtures call activate() after it.
    LogDirectory();
    void activate() const;
    ~LogDirectory();
    LogDirectory(const LogDirectory&) = delete;
    LogDirectory& operator=(const LogDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::u16string widePath() const;
    // The bytes of Log.txt ("" when there is none), and whether the file exists.
    std::string log() const;
    bool logExists() const;

  private:
    std::string path_;
};

// "a\r\nb\r\n" from {"a", "b"}: the log as its lines should read.
std::string LogLines(std::initializer_list<const char*> lines);

}  // namespace kl::testing
