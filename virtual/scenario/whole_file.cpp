#include "scenario/whole_file.h"

#include <exception>
#include <filesystem>
#include <fstream>

namespace vcable::scenario_file {

bool ReadWholeFile(const std::string& path, uintmax_t maxBytes, std::string& contents,
                   std::string& why) {
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(path, code);
    if (code) {
        why = code.message();
        return false;
    }
    // Only regular files: a directory makes the stream library throw, a device or a pipe can be
    // endless.
    if (!std::filesystem::is_regular_file(status)) {
        why = std::filesystem::is_directory(status) ? "a directory, not a file"
                                                    : "not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(path, code);
    if (code || size > maxBytes) {
        why = code ? code.message() : "larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    try {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            why = "cannot be opened";
            return false;
        }
        contents.resize(static_cast<size_t>(size));
        file.read(contents.data(), static_cast<std::streamsize>(size));
        contents.resize(static_cast<size_t>(file.gcount()));
    } catch (const std::exception& failure) {  // a read error deep in the stream library
        why = failure.what();
        return false;
    }
    return true;
}

}  // namespace vcable::scenario_file
