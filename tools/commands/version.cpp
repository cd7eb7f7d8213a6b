// kestrel --version: the tool's version and the libraries a run would use, found the way a run
// finds them.
#include "commands/commands.h"
#include "common/d2xx_library.h"
#include "common/os.h"

namespace kestrel {

std::string VersionText() {
    const std::string library = os::ModulePath(reinterpret_cast<const void*>(&LoadD2XXDLL));
    const std::string virtualCable = FindVirtualLibrary();
    std::string text = "kestrel " KESTREL_VERSION "\n";
    text += "KestrelLink library: " + (library.empty() ? "?" : library) + "\n";
    text +=
        "D2XX library for demo and --virtual: " + virtualCable +
        (os::IsFile(virtualCable) ? " (the virtual cable)\n" : " (the virtual cable, missing)\n");
    text += "D2XX library otherwise: " + DescribeD2xxChoice();
    return text;
}

}  // namespace kestrel
