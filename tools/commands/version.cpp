// kestrel --version: the tool's version and the libraries a run would use, found the way a run
// finds them.
#include "commands/commands.h"
#include "common/d2xx_library.h"
#include "common/os.h"
#include "common/report.h"

namespace kestrel {
namespace {

struct Libraries {
    std::string kestrelLink;   // the KestrelLink library's file, or empty
    std::string virtualCable;  // the D2XX library of demo and --virtual
    bool virtualFound = false;
    std::string d2xx;  // the D2XX library otherwise, in words
};

Libraries FindLibraries() {
    Libraries found;
    found.kestrelLink = os::ModulePath(reinterpret_cast<const void*>(&LoadD2XXDLL));
    found.virtualCable = FindVirtualLibrary();
    found.virtualFound = os::IsFile(found.virtualCable);
    found.d2xx = DescribeD2xxChoice();
    return found;
}

}  // namespace

std::string VersionText() {
    const Libraries found = FindLibraries();
    std::string text = "kestrel " KESTREL_VERSION "\n";
    text += "KestrelLink library: " + (found.kestrelLink.empty() ? "?" : found.kestrelLink) + "\n";
    text += "D2XX library for demo and --virtual: " + found.virtualCable +
            (found.virtualFound ? " (the virtual cable)\n" : " (the virtual cable, missing)\n");
    text += "D2XX library otherwise: " + found.d2xx;
    return text;
}

void ReportVersion() {
    const Libraries found = FindLibraries();
    const std::string library =
        found.kestrelLink.empty() ? "null" : json::String(found.kestrelLink);
    report::Set("version", json::Object({{"kestrel", json::String(KESTREL_VERSION)},
                                         {"kestrellink_library", library},
                                         {"virtual_cable", json::String(found.virtualCable)},
                                         {"virtual_cable_found", json::Bool(found.virtualFound)},
                                         {"d2xx_library", json::String(found.d2xx)}}));
}

}  // namespace kestrel
