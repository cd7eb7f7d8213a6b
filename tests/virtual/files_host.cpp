// A host program for the tests of the virtual cable's own files (program_files_test.cpp). It
// loads the vendor library as any program does, so that the VCABLE_* variables act on it as on a
// real host, and runs the steps its arguments name, in order:
//   bump        adds one to the flash's first byte (0 in the default scenario), prints it
//   pins=HEX    sets channel A's low pins to HEX through the entry points
//   pause       waits 300 ms (long enough for another program to overlap)
//   cd=DIR      changes the current folder
//   fork=HEX    a forked copy sets the pins to HEX, bumps and ends through exit()
//   errors      prints the model errors, one a line
//   mkfifo=NAME makes a FIFO (where a file is to be written at the end)
//   twocables   puts a scenario of two cables in place
//   kill        ends the process by SIGKILL
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "vcable.h"
#include "vcable_scenario.h"
#include "vcable_targets.h"
#include "vendor_api/ft_api.h"

namespace {

void Bump() {
    uint8_t value = 0;
    vc_flash_read(0, 0, &value, 1);
    ++value;
    vc_flash_write(0, 0, &value, 1);
    std::printf("%u\n", value);
}

void Pins(const std::string& hex) {
    void* handle = nullptr;
    if (FT_Open(0, &handle) != 0) {
        std::fprintf(stderr, "files_host: FT_Open failed\n");
        std::exit(3);
    }
    FT_SetBitMode(handle, 0, 2);  // MPSSE
    uint8_t command[] = {0x80, static_cast<uint8_t>(std::stoul(hex, nullptr, 16)), 0x0B};
    uint32_t written = 0;
    FT_Write(handle, command, sizeof command, &written);
    FT_Close(handle);
}

bool Step(const std::string& step) {
    const std::string value = step.substr(step.find('=') + 1);
    if (step == "bump") {
        Bump();
    } else if (step.rfind("pins=", 0) == 0) {
        Pins(value);
    } else if (step == "pause") {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else if (step.rfind("cd=", 0) == 0) {
        return chdir(value.c_str()) == 0;
    } else if (step.rfind("fork=", 0) == 0) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            Pins(value);
            Bump();
            std::exit(0);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && status == 0;
    } else if (step.rfind("mkfifo=", 0) == 0) {
        return mkfifo(value.c_str(), 0600) == 0;
    } else if (step == "errors") {
        for (uint32_t e = 0; e < vc_model_error_count(); ++e)
            std::printf("%s\n", vc_model_error(e));
    } else if (step == "twocables") {
        char error[256] = "";
        return vc_load_scenario_text(
                   "[[device]]\ndescription = \"A\"\n"
                   "[[device]]\ndescription = \"B\"\n",
                   error, sizeof error) == 0;
    } else if (step == "kill") {
        raise(SIGKILL);
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t count = 0;
    FT_CreateDeviceInfoList(&count);  // the first use: the scenario and the files start here
    for (int i = 1; i < argc; ++i) {
        if (!Step(argv[i])) {
            std::fprintf(stderr, "files_host: step %s failed\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
