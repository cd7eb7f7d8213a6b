#include "common/d2xx_library.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/os.h"

namespace kestrel {
namespace {

// Where the library over libftdi1 may be, relative to the tool: where it is installed (the build
// computes the relative path), and the build tree's folder (build/tools/kestrel ->
// build/d2xx-libftdi/).
std::vector<std::string> LibftdiCandidates() {
    const std::string folder = os::ExecutableFolder();
    const std::string name = std::string("/") + os::kVendorLibraryName;
    std::vector<std::string> candidates;
    for (const char* relative :
         {"/" KESTREL_INSTALLED_D2XX_LIBFTDI, "/../d2xx-libftdi", "/../../d2xx-libftdi"}) {
        candidates.push_back(
            std::filesystem::path(folder + relative + name).lexically_normal().string());
    }
    return candidates;
}

}  // namespace

std::string FindLibftdiLibrary() {
    const std::vector<std::string> candidates = LibftdiCandidates();
    for (const std::string& candidate : candidates) {
        if (os::IsFile(candidate)) return candidate;
    }
    return candidates.front();
}

bool ChooseD2xxLibrary(const std::string& option, D2xxChoice& choice, std::string& error) {
    std::string value = option;
    choice.origin = "--d2xx";
    if (value.empty()) {
        const char* env = std::getenv(kD2xxEnvironment);
        value = env ? env : "";
        choice.origin = value.empty() ? "default" : std::string("$") + kD2xxEnvironment;
    }
    if (value.empty() || value == "vendor") {
        choice.path.clear();
        return true;
    }
    choice.path = value == "libftdi" ? FindLibftdiLibrary() : value;
    if (os::IsFile(choice.path)) return true;
    error = choice.origin + ": no D2XX library at " + choice.path +
            (value == "libftdi" ? " (install the kestrellink-d2xx-libftdi package)" : "");
    return false;
}

std::string DescribeD2xxChoice() {
    D2xxChoice choice;
    std::string error;
    if (!ChooseD2xxLibrary("", choice, error)) return error;
    if (!choice.path.empty()) return choice.path + " (" + choice.origin + ")";
    const std::string vendor = os::SystemVendorLibrary();
    return (vendor.empty() ? std::string(os::kVendorLibraryName) + " not found" : vendor) +
           " (the vendor's, " + choice.origin + ")";
}

}  // namespace kestrel
