// Running the kestrel tool in the tool's tests: the built executable on the virtual cable, its
// exit code and both streams, in a scratch folder of its own per test.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrel_test {

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A scenario file of examples/scenarios.
inline std::string Example(const char* name) {
    return std::string(KESTREL_EXAMPLES) + "/scenarios/" + name;
}

class KestrelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrel-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Runs the tool with `args` (shell words) and collects its exit code and both streams.
    ToolRun Kestrel(const std::string& args, const std::string& environment = "") const {
        const std::string out = Path("stdout.txt");
        const std::string err = Path("stderr.txt");
        // None of the virtual cable's own file variables of the caller's environment.
        const std::string command =
            "env -u VCABLE_SCENARIO -u VCABLE_STATE -u VCABLE_TRACE -u VCABLE_VCD -u "
            "VCABLE_CALL_LOG "
            "-u VCABLE_CLOCK_REPORT -u VCABLE_MODEL_ERRORS -u LD_LIBRARY_PATH " +
            environment + " '" KESTREL_TOOL "' " + args + " >'" + out + "' 2>'" + err +
            "' </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }

    std::string dir_;
};

}  // namespace kestrel_test
