// The tool against careless and hostile command lines: every command refuses numbers that would
// wrap, files that are not what they seem and one file named for two roles, with the exit code
// and message the table gives and every file it names unchanged; piped input is sent and
// counted; two processes on one state file lose no write; ^C leaves no half-written file.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tool_fixture.h"

namespace {

using namespace kestrel_test;

std::string Bytes(size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 131 + seed * 17) >> 3);
    return bytes;
}

bool IsCharacterDevice(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISCHR(info.st_mode);
}

class HostileTest : public KestrelTest {
  protected:
    void SetUp() override {
        KestrelTest::SetUp();
        WriteFile(Path("a.bin"), Bytes(5000, 1));
        WriteFile(Path("out.bin"), "kept as it was");
        ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
        ASSERT_EQ(0, mkdir(Path("folder").c_str(), 0700));
        ASSERT_EQ(0, symlink(Path("a.bin").c_str(), Path("link.bin").c_str()));
        ASSERT_EQ(0, link(Path("a.bin").c_str(), Path("hard.bin").c_str()));
        ASSERT_EQ(0, symlink(Path("later.txt").c_str(), Path("dangling.txt").c_str()));
        ASSERT_EQ(0, mkdir(Path("log").c_str(), 0700));
        ASSERT_EQ(0, mkdir(Path("badlog").c_str(), 0700));
        ASSERT_EQ(0, mkdir(Path("badlog/Log.txt").c_str(), 0700));
        // Larger than any input may be, without taking the disk space.
        WriteFile(Path("huge.bin"), "");
        ASSERT_EQ(0, truncate(Path("huge.bin").c_str(), (off_t{1} << 28) + 1));
        // A scenario of exactly the largest size read (and then refused by the reader).
        WriteFile(Path("edge.toml"), "");
        ASSERT_EQ(0, truncate(Path("edge.toml").c_str(), off_t{1} << 20));
        // A state file with something in it, that refused commands must not touch.
        ASSERT_EQ(0, Kestrel(Virtual("spi write " + Q("a.bin") + " --address 0x3000")).exitCode);
        WriteFile(Path("log/Log.txt"), "");
    }

    std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
    std::string Virtual(const std::string& args) const {
        return "--virtual --state " + Q("state.bin") + " " + args;
    }

    // Runs a shell line in the scratch folder (pipes, background processes); returns its status.
    int Shell(const std::string& line) const {
        const int status = std::system(("cd '" + dir_ + "' || exit 99; " + line).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The scratch folder's regular files and their contents.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const char* name : {"a.bin", "out.bin", "state.bin", "log/Log.txt"}) {
            files[name] = ReadFile(Path(name));
        }
        return files;
    }

    // Whether the scratch folder is free of what a command writes before renaming it into place.
    bool NoLeftovers() const { return Shell("! ls -A | grep -q kestrel-") == 0; }
};

struct Row {
    std::string args;  // {X} stands for the scratch folder's file X
    int exitCode;
    const char* message;
    const char* environment = "";  // variables for the run, with {X} as in args
};

std::string Expand(const std::string& args, const std::string& dir) {
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        const size_t close = args[i] == '{' ? args.find('}', i) : std::string::npos;
        if (close == std::string::npos) {
            out += args[i];
            continue;
        }
        out += "'" + dir + "/" + args.substr(i + 1, close - i - 1) + "'";
        i = close;
    }
    return out;
}

// Each row runs with --virtual --state {state.bin}; none may change a file or leave one behind.
const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        // Numbers that would wrap or overflow, or that are not whole sectors.
        {"spi write {a.bin} --address -4096", 2, "'-4096' is not a number from 0 to 4294967295"},
        {"spi erase --address 0 --size 18446744073709551615", 2, "is not a number from 1"},
        {"spi erase --address 0x100000000 --size 4096", 2, "is not a number from 0"},
        {"spi read {out.bin} --size 18446744073709547520", 2, "is not a number from 1"},
        {"spi read {out.bin} --size 0", 2, "is not a number from 1"},
        {"spi --flash-size 6000 write {a.bin}", 2, "not a whole number of 4096-byte sectors"},
        {"spi --flash-size -4096 write {a.bin}", 2, "is not a number"},
        {"spi write {a.bin} --address 1e3", 2, "decimal, or hex with 0x"},
        {"spi write {a.bin} --address ' 12'", 2, "is not a number"},
        {"uart --baud -1 dtr", 2, "'-1' is not a number"},
        {"uart receive {out.bin} --size -1", 2, "'-1' is not a number"},
        {"uart receive {out.bin} --size 4 --timeout -1", 2, "is not a number of seconds"},
        {"uart receive {out.bin} --size 4 --timeout nan", 2, "is not a number of seconds"},
        {"gpio read --attempts -1", 2, "is not a number"},
        {"gpio reset-pulse --pulse-ms 4294967296", 2, "is not a number"},
        {"jtag ir -1 0x1", 2, "is not a number"},
        {"jtag dr 0 -8 0 --ir 0x2", 2, "is not a number"},
        {"spi erase --size 4096 --address 18446744073709547520", 2, "is not a number from 0"},
        {"spi --flash-size 0x100001000 id", 2, "is not a number from 4096 to 4294967296"},
        {"gpio read --attempts 0", 2, "is not a number from 1"},
        {"--divisor -1 list", 2, "is not a number"},
        {"--divisor 65536 scan", 2, "is not a number from 0 to 65535"},
        {"--vcd-cable -1 --vcd {new.vcd} scan", 2, "is not a number"},
        {"spi write {a.bin} --address 18446744073709551616", 2,
         "not a number from 0 to 4294967295"},
        // The largest values, a leading zero (decimal) and lower-case hex pass the parser: the
        // command refuses them only later, for what they are.
        {"spi read {out.bin} --address 0xffffffff --size 1", 2, "the range 0xFFFFFFFF to"},
        {"spi read {out.bin} --address 01048576 --size 1", 2, "the range 0x100000 to"},
        {"uart receive - --size 4 --timeout 86400.000000000", 5, "to standard output; give a"},
        // Inputs that are not regular files, or too large.
        {"spi write /dev/zero", 5, "/dev/zero: it is a character device"},
        {"spi verify {folder}", 5, "it is a directory"},
        {"spi write {fifo}", 5, "it is a FIFO"},
        {"spi write {huge.bin}", 5, "larger than the 256 MiB"},
        {"uart send {folder}", 5, "it is a directory"},
        {"uart send /dev/zero", 5, "it is a character device"},
        {"uart send {huge.bin}", 5, "larger than the 256 MiB"},
        {"uart send {fifo}", 5, "it is a FIFO"},
        {"jtag svf {folder}", 5, "it is a directory"},
        {"jtag xsvf {fifo}", 5, "it is a FIFO"},
        {"jtag svf {huge.bin}", 5, "larger than"},
        {"--virtual {folder} scan", 4, "it is a directory"},
        {"--virtual {fifo} list", 4, "it is a FIFO"},
        {"--virtual /dev/zero list", 4, "it is a character device"},
        {"--virtual {huge.bin} list", 4, "larger than the 1 MiB"},
        {"--virtual {edge.toml} list", 4, "edge.toml:1:"},
        {"spi write ''", 5, "an input file name is empty"},
        {"spi read '' --size 16", 5, "the output file: the file name is empty"},
        // Outputs that are not regular files.
        {"spi read /dev/null --size 16", 5, "it is a character device"},
        {"spi read {fifo} --size 16", 5, "it is a FIFO, not a regular file (give - for"},
        {"spi read {folder} --size 16", 5, "it is a directory"},
        {"uart receive /dev/null --size 4", 5, "it is a character device"},
        {"uart receive - --size 4", 5, "to standard output; give a file"},
        {"uart receive {missing/x.bin} --size 4", 5, "cannot write the output file"},
        {"--trace {folder} scan", 5, "the trace file"},
        {"--vcd {fifo} scan", 5, "the waveform file"},
        {"--trace {folder} demo", 5, "the trace file"},
        {"--trace /dev/null list", 5, "it is a character device"},
        {"eeprom --log-dir {badlog} erase", 5, "the log"},
        // One file for two roles, by any of its names.
        {"--trace {a.bin} spi write {a.bin}", 2, "the input file and --trace name the same file"},
        {"--vcd {out.bin} spi read {out.bin}", 2, "name the same file"},
        {"--trace {folder/../a.bin} spi verify {a.bin}", 2, "name the same file"},
        {"--trace {link.bin} jtag svf {a.bin}", 2, "name the same file"},
        {"--trace {hard.bin} spi verify {a.bin}", 2, "the input file and --trace name the same"},
        {"--trace {dangling.txt} --vcd {later.txt} list", 2, "--trace and --vcd name the same"},
        {"--trace {state.bin} scan", 2, "--state and --trace name the same file"},
        {"--trace {x.txt} --vcd {x.txt} list", 2, "--trace and --vcd name the same file"},
        {"--trace {a.bin} --vcd {link.bin} demo", 2, "--trace and --vcd name the same file"},
        {"uart send {state.bin}", 2, "name the same file"},
        {"--trace {log/Log.txt} eeprom --log-dir {log} erase", 2, "the log and --trace name"},
        {"--vcd {./log/../a.bin} jtag xsvf {a.bin}", 2, "the input file and --vcd name"},
        // The virtual cable's own files are the command's files too.
        {"spi read {out.bin} --size 16", 2, "the output file and VCABLE_TRACE name the same file",
         "VCABLE_TRACE={out.bin}"},
        {"jtag svf {a.bin}", 2, "the input file and VCABLE_CALL_LOG name",
         "VCABLE_CALL_LOG={link.bin}"},
        {"scan", 2, "--state and VCABLE_VCD name the same file", "VCABLE_VCD={state.bin}"},
        {"--trace {state.bin.lock} scan", 2, "the lock of --state and --trace name the same file"},
        {"scan", 2, "the lock of --state and VCABLE_CALL_LOG name",
         "VCABLE_CALL_LOG={state.bin.lock}"},
        {"--trace {x.txt} list", 2, "--trace and VCABLE_CLOCK_REPORT name",
         "VCABLE_CLOCK_REPORT={./folder/../x.txt}"},
        // A file not there yet, by a relative name and from the root.
        {"--trace {x.txt} list", 2, "--trace and VCABLE_CALL_LOG name",
         "--chdir={} VCABLE_CALL_LOG=x.txt"},
        {"spi read {a.bin} --size 16", 2, "the output file and VCABLE_SCENARIO name",
         "VCABLE_SCENARIO={a.bin}"},
        {"uart send {a.bin}", 2, "the input file and VCABLE_MODEL_ERRORS",
         "VCABLE_MODEL_ERRORS={a.bin}"},
        {"scan", 2, "VCABLE_STATE is set", "VCABLE_STATE={state.bin}"},
        {"--virtual {x.toml} scan", 2, "kestrel keeps the virtual cable's memory with --state",
         "VCABLE_STATE={other.bin}"},
        // Fields the EEPROM would cut short: refused before anything is programmed.
        {"eeprom --log-dir {log} program --program-serial ZV0000000000000001", 2,
         "keeps at most 15 characters of it, so it would be cut short to \"ZV0000000000000\""},
        {"eeprom --log-dir {log} program --name " + std::string(64, 'N'), 2, "cut short"},
        {"eeprom --log-dir {log} program --text '\xe2\x82\xac'", 2, "no characters above U+00FF"},
        // Ranges the flash does not have, after the flash is known.
        {"spi read {out.bin} --address 0x100000", 2, "past the end"},
        {"spi --flash-size 4096 write {a.bin}", 2, "larger than the 4 KiB flash"},
        // Sizes past the part's own, whose addresses would wrap around to its start.
        {"spi --flash-size 0x200000 write {a.bin} --address 0x100000", 2,
         "is larger than the flash: its SFDP table announces 1 MiB"},
        {"spi --flash-size 65536 erase --chip", 2, "erase --chip erases the whole flash"},
    };
    return rows;
}

TEST_F(HostileTest, EveryCommandRefusesWhatWouldLoseData) {
    const std::map<std::string, std::string> before = Snapshot();
    for (const Row& row : Rows()) {
        // Rows that choose their own scenario keep the state file.
        const bool ownScenario = row.args.rfind("--virtual ", 0) == 0;
        const std::string args = ownScenario
                                     ? "--state " + Q("state.bin") + " " + Expand(row.args, dir_)
                                     : Virtual(Expand(row.args, dir_));
        SCOPED_TRACE(std::string(row.environment) + " " + args);
        const ToolRun run = Kestrel(args, Expand(row.environment, dir_));
        EXPECT_EQ(row.exitCode, run.exitCode) << run.err;
        EXPECT_NE(std::string::npos, (run.err + run.out).find(row.message)) << run.err;
        EXPECT_EQ(before, Snapshot());
        EXPECT_TRUE(NoLeftovers());
        EXPECT_TRUE(IsCharacterDevice("/dev/null"));
        EXPECT_EQ(-1, access(Path("new.vcd").c_str(), F_OK));
    }
}

TEST_F(HostileTest, PipedInputIsSentAndCounted) {
    const std::string bytes = ReadFile(Path("a.bin"));
    // Into the flash and back out through standard output.
    ASSERT_EQ(0, Shell("cat a.bin | '" KESTREL_TOOL "' " + Virtual("spi write - --address 0x8000") +
                       " >/dev/null"));
    ASSERT_EQ(0, Shell("'" KESTREL_TOOL "' " + Virtual("spi read - --address 0x8000 --size 5000") +
                       " >piped.bin 2>report.txt"));
    EXPECT_EQ(bytes, ReadFile(Path("piped.bin")));
    EXPECT_NE(std::string::npos, ReadFile(Path("report.txt")).find("read 5000 bytes"));
    // Over the UART: the peer receives what was counted.
    ASSERT_EQ(0, Shell("cat a.bin | '" KESTREL_TOOL "' --virtual uart send - >sent.txt"));
    const std::string sent = ReadFile(Path("sent.txt"));
    EXPECT_NE(std::string::npos, sent.find("sent 5000 bytes")) << sent;
    EXPECT_NE(std::string::npos, sent.find("has received 5000 bytes")) << sent;
    // Nothing piped is nothing sent, and says so.
    EXPECT_EQ(2, Shell("'" KESTREL_TOOL "' --virtual uart send - </dev/null 2>/dev/null"));
}

TEST_F(HostileTest, TwoProcessesOnOneStateFileLoseNoWrite) {
    // One of them reaches the state file through a link, and must take the same turns.
    ASSERT_EQ(0, symlink("shared.bin", Path("via-link.bin").c_str()));
    const std::string tool = "'" KESTREL_TOOL "' --virtual --state shared.bin spi write ";
    const std::string other = "'" KESTREL_TOOL "' --virtual --state via-link.bin spi write ";
    std::vector<std::string> reported;
    for (int round = 0; round < 6; ++round) {
        const std::string first = "r" + std::to_string(round) + "a.bin";
        const std::string second = "r" + std::to_string(round) + "b.bin";
        WriteFile(Path(first), Bytes(4096, round * 2 + 10));
        WriteFile(Path(second), Bytes(4096, round * 2 + 11));
        const std::string a = std::to_string((round * 2 + 1) * 4096);
        const std::string b = std::to_string((round * 2 + 2) * 4096);
        Shell("(" + tool + first + " --address " + a + " >/dev/null 2>&1; echo $? >a.rc) & (" +
              other + second + " --address " + b + " >/dev/null 2>&1; echo $? >b.rc) & wait");
        if (ReadFile(Path("a.rc")) == "0\n") reported.push_back(first + "@" + a);
        if (ReadFile(Path("b.rc")) == "0\n") reported.push_back(second + "@" + b);
    }
    EXPECT_EQ(12u, reported.size());
    for (const std::string& write : reported) {
        const std::string file = write.substr(0, write.find('@'));
        const std::string address = write.substr(write.find('@') + 1);
        SCOPED_TRACE(write);
        const ToolRun run = Kestrel("--virtual --state " + Q("shared.bin") + " spi verify " +
                                    Q(file) + " --address " + address);
        EXPECT_EQ(0, run.exitCode) << run.err;
    }
}

// SIGINT to a running kestrel: the output it was writing, the trace and the state are as they
// were, and nothing of its own is left in the folder.
TEST_F(HostileTest, InterruptedReadAndWriteLeaveEveryFileAsItWas) {
    WriteFile(Path("trace.txt"), "an older trace");
    WriteFile(Path("slow.bin"), Bytes(40, 3));
    const std::map<std::string, std::string> before = Snapshot();
    const std::string commands[] = {
        // A read that waits for bytes that never come, into an existing and a new file.
        Virtual("--trace " + Q("trace.txt") + " uart receive " + Q("out.bin") +
                " --size 64 --timeout 20"),
        Virtual("--trace " + Q("new-trace.txt") + " uart receive " + Q("new.bin") +
                " --size 64 --timeout 20"),
        // A write at one byte per second.
        Virtual("--trace " + Q("trace.txt") + " uart send --paced " + Q("slow.bin")),
    };
    for (const std::string& args : commands) {
        SCOPED_TRACE(args);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sh", "sh", "-c",
                  ("exec '" KESTREL_TOOL "' " + args + " >/dev/null 2>&1").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        kill(child, SIGINT);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
        EXPECT_EQ(before, Snapshot());
        EXPECT_EQ("an older trace", ReadFile(Path("trace.txt")));
        EXPECT_EQ(-1, access(Path("new.bin").c_str(), F_OK));
        EXPECT_EQ(-1, access(Path("new-trace.txt").c_str(), F_OK));
        EXPECT_TRUE(NoLeftovers());
    }
}

// spi read without --size reads from the address to the very end of the flash.
TEST_F(HostileTest, ReadWithoutSizeEndsAtTheLastByteOfTheFlash) {
    const std::string image = Bytes(65536, 7);
    WriteFile(Path("image.bin"), image);
    WriteFile(Path("flash.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\n"
              "size = 65536\ncontents_file = \"image.bin\"\n");
    for (const char* address : {"0", "0x10", "0xFFFF"}) {
        SCOPED_TRACE(address);
        const ToolRun run = Kestrel("--virtual " + Q("flash.toml") + " spi read " + Q("tail.bin") +
                                    " --address " + address);
        ASSERT_EQ(0, run.exitCode) << run.err;
        EXPECT_EQ(image.substr(std::stoul(address, nullptr, 0)), ReadFile(Path("tail.bin")));
    }
    EXPECT_EQ(2, Kestrel("--virtual " + Q("flash.toml") + " spi read " + Q("tail.bin") +
                         " --address 0x10000")
                     .exitCode);
}

// --state and a command that fails: refused before the cable is used, the state file is not
// touched; failed once the cable was in use, the state keeps what the cable then holds (as a real
// flash keeps the sectors a broken-off write reached), so the next command sees the truth.
TEST_F(HostileTest, StateAfterAFailureHoldsWhatTheCableHolds) {
    WriteFile(Path("flash.toml"),
              "[[device]]\ndescription = \"ZV7300LNK\"\n[device.flash]\nsize = 65536\n"
              "fill = 255\n[[fault]]\ntype = \"unplug\"\nentry = \"FT_Write\"\nnth = 24\n");
    WriteFile(Path("image.bin"), Bytes(16384, 9));
    const std::string scenario = "--virtual " + Q("flash.toml") + " --state " + Q("f.bin");
    ASSERT_EQ(0, Kestrel(scenario + " spi read " + Q("blank.bin")).exitCode);
    const std::string blankState = ReadFile(Path("f.bin"));

    // Refused on the command line: the state file is byte for byte what it was.
    EXPECT_EQ(2, Kestrel(scenario + " spi write " + Q("image.bin") + " --address -1").exitCode);
    EXPECT_EQ(blankState, ReadFile(Path("f.bin")));

    // Unplugged half way (the 24th write is the page stream after the first page's): the command
    // fails with the library result of the write that met the unplugged cable, and the state
    // shows the pages it reached.
    const ToolRun failed = Kestrel(scenario + " spi write " + Q("image.bin"));
    EXPECT_EQ(8, failed.exitCode) << failed.out << failed.err;
    EXPECT_NE(blankState, ReadFile(Path("f.bin")));
    EXPECT_TRUE(NoLeftovers());
}

}  // namespace
