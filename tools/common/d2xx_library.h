// Which D2XX library a run on a real cable uses: the vendor's, found by the system's loader (the
// default), or the project's library over libftdi1, or a library file the user names. Chosen
// with --d2xx or, without it, $KESTREL_D2XX; the values are "vendor", "libftdi" or a path. A
// library other than the vendor's is loaded by full path before LoadD2XXDLL, whose dlopen by
// name then finds that copy, so a vendor library the user installed is never shadowed unless
// asked.
#pragma once

#include <string>

namespace kestrel {

constexpr const char* kD2xxEnvironment = "KESTREL_D2XX";

struct D2xxChoice {
    std::string path;    // empty: the vendor's library through the loader's search
    std::string origin;  // "--d2xx", "$KESTREL_D2XX" or "default"
};

// The choice for an option value (empty when --d2xx was not given); false with a message when
// the value names nothing that exists.
bool ChooseD2xxLibrary(const std::string& option, D2xxChoice& choice, std::string& error);

// The project's library over libftdi1 beside the tool (installed or in the build tree), or the
// installed location when it is nowhere.
std::string FindLibftdiLibrary();

// One line for --version: the library a run on a real cable would use, and why.
std::string DescribeD2xxChoice();

}  // namespace kestrel
