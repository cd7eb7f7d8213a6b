// The tool's own input and output files, checked before anything is sent to the cable: an input
// that cannot be read, or an output that cannot be written, stops a command before it starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Reads a whole input file; false with the reason ("cannot read boot.bin: No such file or
// directory").
bool ReadInputFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Whether an input file can be opened and read (a folder cannot); false with the reason.
bool CheckInputFile(const std::string& path, std::string& error);

// Whether an output file can be created or written, checked by opening it (a file that did not
// exist is removed again); false with the reason.
bool CheckOutputFile(const std::string& path, std::string& error);

// An output file opened before the transfer and written when it is done. Opening creates it
// without truncating what is there; a file that was created and never written is removed again,
// one that existed keeps its old contents.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::string& path, std::string& error);
    // Replaces the file's contents with `bytes`.
    bool Write(const uint8_t* bytes, size_t count, std::string& error);

  private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool written_ = false;
};

}  // namespace kestrel
