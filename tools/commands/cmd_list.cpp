// kestrel list: what is attached. The library's exports have no device listing, so on the
// virtual cable the tool asks the cable's control API (every device with its identity, channels,
// chain and flash) and on the real cable it reports what OpenDevice finds for the description.
#include <cstdio>
#include <cstring>

#include "commands/commands.h"
#include "common/d2xx_list.h"
#include "common/report.h"

namespace kestrel {
namespace {

void ListVirtual(const VirtualApi& api) {
    const int count = api.vc_device_count();
    std::printf("%d device(s) on the virtual cable's bus:\n", count);
    report::Set("cables", "[]");
    for (int d = 0; d < count; ++d) {
        VcEepromView eeprom{};
        api.vc_eeprom_view(d, &eeprom);
        VcChannelSettings b{};
        const bool dual = api.vc_channel_settings(d, 1, &b) == 0;
        std::printf("  %d  %-6s  %s", d, dual ? "cable" : "single",
                    eeprom.programmed ? ("\"" + std::string(eeprom.description) + "\" serial \"" +
                                         eeprom.serial_number + "\"")
                                            .c_str()
                                      : "blank EEPROM (enumerates as \"Dual RS232\")");
        VcChannelSettings a{};
        api.vc_channel_settings(d, 0, &a);
        std::printf("  location 0x%04X", a.location);
        if (dual) std::printf("/0x%04X", b.location);
        const int chain = api.vc_jtag_device_count(d);
        if (chain >= 0) std::printf("  JTAG chain %d device(s)", chain);
        uint32_t flash = 0;
        if (api.vc_flash_size(d, &flash) == 0) std::printf("  SPI flash %u KiB", flash / 1024);
        std::printf("  user area %u bytes\n", eeprom.user_area_size);
        report::Append(
            "cables",
            json::Object(
                {{"index", json::Number(d)},
                 {"dual", json::Bool(dual)},
                 {"description", eeprom.programmed ? json::String(eeprom.description) : "null"},
                 {"serial", eeprom.programmed ? json::String(eeprom.serial_number) : "null"},
                 {"locations",
                  json::Array(dual ? std::vector<std::string>{json::Number(a.location),
                                                              json::Number(b.location)}
                                   : std::vector<std::string>{json::Number(a.location)})}}));
    }
}

// Every cable the D2XX library sees, with both channels; false when the library cannot list.
bool ListD2xx(const std::string& library) {
    std::vector<D2xxChannel> channels;
    std::string error;
    if (library.empty() || !ListD2xxChannels(library, channels, error)) {
        if (!error.empty())
            std::fprintf(stderr, "kestrel: cannot list the cables: %s\n", error.c_str());
        return false;
    }
    const std::vector<D2xxCable> cables = GroupCables(channels);
    std::printf("%zu cable(s) seen by %s:\n", cables.size(), library.c_str());
    report::Set("cables", "[]");
    for (size_t c = 0; c < cables.size(); ++c) {
        const D2xxCable& cable = cables[c];
        std::printf("  %zu  \"%s\" serial \"%s\"", c, cable.description.c_str(),
                    cable.serial.c_str());
        std::vector<std::string> locations;
        std::vector<std::string> channelFields;
        for (const D2xxChannel& channel : cable.channels) {
            std::printf("%s0x%04X", locations.empty() ? "  location " : "/", channel.location);
            locations.push_back(json::Number(channel.location));
            channelFields.push_back(
                json::Object({{"description", json::String(channel.description)},
                              {"serial", json::String(channel.serial)},
                              {"location", json::Number(channel.location)},
                              {"open", json::Bool((channel.flags & 1) != 0)}}));
        }
        std::printf("%s\n", cable.channels.size() == 2 ? "" : "  (single channel)");
        report::Append("cables", json::Object({{"index", json::Number(uint64_t{c})},
                                               {"dual", json::Bool(cable.channels.size() == 2)},
                                               {"description", json::String(cable.description)},
                                               {"serial", json::String(cable.serial)},
                                               {"locations", json::Array(locations)},
                                               {"channels", json::Array(channelFields)}}));
    }
    return true;
}

int RunList(const GlobalOptions& options) {
    Session session(options);
    if (const int code = session.Start()) return code;
    if (session.isVirtual()) {
        ListVirtual(session.virtualCable()->api());
        return session.Finish(kExitOk);
    }
    if (ListD2xx(session.D2xxLibraryPath())) return session.Finish(kExitOk);
    // The library cannot list: whether OpenDevice finds the pair for the options.
    CallResult result;
    if (!session.OpenMpsse(result)) {
        return session.Finish(
            FailCall(result, "no cable found for \"" + options.description + "\""));
    }
    report::Set("cable_found", json::Bool(true));
    std::printf("cable found for \"%s\": OpenDevice returned 0 (both channels opened)\n",
                options.description.c_str());
    return session.Finish(kExitOk);
}

}  // namespace

int VirtualDeviceIndex(Session& session) {
    if (!session.isVirtual()) return -1;
    const VirtualApi& api = session.virtualCable()->api();
    for (int d = 0; d < api.vc_device_count(); ++d) {
        VcEepromView view{};
        if (api.vc_eeprom_view(d, &view) != 0 || !view.programmed) continue;
        if (std::strstr(view.description, session.options().description.c_str()) &&
            std::strstr(view.serial_number, session.options().serial.c_str())) {
            return d;
        }
    }
    return -1;
}

Command AddListCommand(CLI::App& root) {
    CLI::App* app = root.add_subcommand(
        "list",
        "Show the attached devices (virtual cable: every device of the scenario; real "
        "cable: whether OpenDevice finds the cable)");
    return {app, RunList};
}

}  // namespace kestrel
