// The files a host program names with VCABLE_* variables, on real files in a scratch folder,
// through a host program that loads the virtual cable (files_host.cpp): nothing but a regular
// file is replaced, one file is never written for two variables, a program killed or a forked
// copy of it leaves every file whole, a state file that does not load is left as it is, and
// programs on one state file take turns.
#ifdef VCABLE_FILES_HOST

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "vcable_fixture.h"
#include "vcable_scenario.h"

namespace {

namespace fs = std::filesystem;

struct HostRun {
    int exitCode;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ProgramFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vcable-files-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
        fs::create_directories(dir_ + "/sub");
        fs::create_directories(dir_ + "/folder");
        ASSERT_EQ(0, mkfifo(Path("fifo").c_str(), 0600));
        fs::create_symlink("fifo", Path("to-fifo"));
        WriteFile(Path("scenario.toml"), "[[device]]\ndescription = \"ZV7300LNK\"\n");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Starts the host in the scratch folder with `environment` ("VCABLE_TRACE=t.txt ...") as its
    // only VCABLE_ variables; its streams go to TAG.out and TAG.err beside the folder.
    pid_t Start(const std::string& environment, const std::string& steps,
                const std::string& tag = "host") const {
        const std::string line =
            "cd '" + dir_ +
            "' && env -u VCABLE_SCENARIO -u VCABLE_STATE -u VCABLE_TRACE -u VCABLE_VCD "
            "-u VCABLE_CALL_LOG -u VCABLE_CLOCK_REPORT -u VCABLE_MODEL_ERRORS " +
            environment + " '" VCABLE_FILES_HOST "' " + steps + " >'" + dir_ + "." + tag +
            ".out' 2>'" + dir_ + "." + tag + ".err'";
        const pid_t child = fork();
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    HostRun Finish(pid_t child, const std::string& tag = "host") const {
        int status = 0;
        waitpid(child, &status, 0);
        const std::string streams = dir_ + "." + tag;
        HostRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(streams + ".out"),
                    ReadFile(streams + ".err")};
        fs::remove(streams + ".out");
        fs::remove(streams + ".err");
        return run;
    }
    HostRun Run(const std::string& environment, const std::string& steps) const {
        return Finish(Start(environment, steps));
    }

    // Files the virtual cable writes before it renames them, left in the scratch folder.
    std::string Leftovers() const {
        std::string names;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (Has(name, ".vcable-")) names += name + " ";
        }
        return names;
    }
    fs::file_type Type(const std::string& name) const {
        return fs::symlink_status(Path(name)).type();
    }

    std::string dir_;
};

TEST_F(ProgramFilesTest, WhatIsNotARegularFileIsRefusedAndKept) {
    struct Row {
        const char* variable;
        const char* target;
        const char* why;
    };
    const Row rows[] = {
        {"VCABLE_TRACE", "fifo", "it is a FIFO, not a regular file"},
        {"VCABLE_VCD", "folder", "it is a directory"},
        {"VCABLE_CALL_LOG", "to-fifo", "it is a FIFO"},
        {"VCABLE_CLOCK_REPORT", "folder", "it is a directory"},
        {"VCABLE_MODEL_ERRORS", "to-fifo", "it is a FIFO"},
        {"VCABLE_STATE", "fifo", "it is a FIFO"},
        {"VCABLE_STATE", "folder", "it is a directory"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.variable) + "=" + row.target);
        const HostRun run =
            Run(std::string(row.variable) + "=" + row.target, "pins=08 bump errors");
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_TRUE(Has(run.err, std::string(row.variable) + ": cannot write ")) << run.err;
        EXPECT_TRUE(Has(run.err, row.why)) << run.err;
        EXPECT_TRUE(Has(run.out, row.variable)) << "not a model error: " << run.out;
        EXPECT_EQ(fs::file_type::fifo, Type("fifo"));
        EXPECT_EQ(fs::file_type::symlink, Type("to-fifo"));
        EXPECT_EQ(fs::file_type::directory, Type("folder"));
        EXPECT_TRUE(fs::is_empty(Path("folder")));
        EXPECT_EQ("", Leftovers());
    }
    // Checked again at the end: a FIFO made while the trace was written stays.
    const HostRun run = Run("VCABLE_TRACE=late", "pins=08 mkfifo=late");
    EXPECT_TRUE(Has(run.err, "VCABLE_TRACE: cannot write " + Path("late") + ": it is a FIFO"))
        << run.err;
    EXPECT_EQ(fs::file_type::fifo, Type("late"));
    EXPECT_EQ("", Leftovers());
}

TEST_F(ProgramFilesTest, FilesAreWrittenWhereTheyWereNamedAndThroughLinks) {
    WriteFile(Path("calls.txt"), "old");
    fs::permissions(Path("calls.txt"), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("calls.txt", Path("via-link.txt"));
    // Relative names hold from the folder the program started in; an empty variable is unset.
    const std::string all =
        "VCABLE_TRACE=trace.txt VCABLE_VCD=wave.vcd VCABLE_CALL_LOG=via-link.txt "
        "VCABLE_CLOCK_REPORT=clock.json VCABLE_MODEL_ERRORS=errors.txt VCABLE_STATE=state.bin "
        "VCABLE_SCENARIO=";
    HostRun run = Run(all, "cd=sub pins=08 bump");
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ("1\n", run.out);
    EXPECT_TRUE(Has(ReadFile(Path("trace.txt")), "cable 0: 0x80")) << ReadFile(Path("trace.txt"));
    EXPECT_TRUE(Has(ReadFile(Path("wave.vcd")), "$enddefinitions"));
    EXPECT_EQ(fs::file_type::symlink, Type("via-link.txt"));
    EXPECT_TRUE(Has(ReadFile(Path("calls.txt")), "FT_Write(")) << ReadFile(Path("calls.txt"));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
              fs::status(Path("calls.txt")).permissions());
    EXPECT_TRUE(Has(ReadFile(Path("clock.json")), "\"full_speed\": {\"elapsed_ms\""));
    EXPECT_TRUE(fs::exists(Path("errors.txt")));
    EXPECT_EQ("", ReadFile(Path("errors.txt")));
    EXPECT_TRUE(fs::is_empty(Path("sub")));
    EXPECT_EQ("", Leftovers());
    // The state came back, and with it the first run's change.
    run = Run("VCABLE_STATE=state.bin", "bump");
    EXPECT_EQ("2\n", run.out) << run.err;
}

TEST_F(ProgramFilesTest, AKilledProgramOrAForkedCopyLeavesEveryFileWhole) {
    ASSERT_EQ("1\n", Run("VCABLE_STATE=state.bin", "bump").out);
    const std::string state = ReadFile(Path("state.bin"));
    const char* const outputs[] = {"trace.txt", "wave.vcd", "calls.txt", "clock.json",
                                   "errors.txt"};
    for (const char* name : outputs) WriteFile(Path(name), "old");
    const std::string all =
        "VCABLE_TRACE=trace.txt VCABLE_VCD=wave.vcd VCABLE_CALL_LOG=calls.txt "
        "VCABLE_CLOCK_REPORT=clock.json VCABLE_MODEL_ERRORS=errors.txt VCABLE_STATE=state.bin";
    // The copy ends through exit(), the program by a signal.
    EXPECT_NE(0, Run(all, "pins=08 bump fork=04 kill").exitCode);
    for (const char* name : outputs) EXPECT_EQ("old", ReadFile(Path(name))) << name;
    EXPECT_EQ(state, ReadFile(Path("state.bin")));

    // The copy's pins and bump are its own: only the program's files are written, once.
    const HostRun run = Run(all, "pins=08 fork=04 pins=02");
    EXPECT_EQ(0, run.exitCode) << run.err;
    const std::string trace = ReadFile(Path("trace.txt"));
    EXPECT_TRUE(Has(trace, "args=08 0B") && Has(trace, "args=02 0B")) << trace;
    EXPECT_FALSE(Has(trace, "args=04 0B")) << trace;
    EXPECT_TRUE(Has(ReadFile(Path("calls.txt")), "FT_Write("));
    EXPECT_EQ("2\n", Run("VCABLE_STATE=state.bin", "bump").out);
}

TEST_F(ProgramFilesTest, OneFileNamedTwiceIsWrittenForTheFirstOnly) {
    WriteFile(Path("t.txt"), "old");
    fs::create_hard_link(Path("t.txt"), Path("hard.txt"));
    fs::create_symlink("v.vcd", Path("to-v.vcd"));
    const std::string scenario = ReadFile(Path("scenario.toml"));
    struct Row {
        const char* environment;
        const char* refused;  // the message
        const char* kept;     // the first variable's file, and how it starts
        const char* start;
    };
    const Row rows[] = {
        {"VCABLE_STATE=s.bin VCABLE_TRACE=s.bin",
         "VCABLE_TRACE: names the same file as VCABLE_STATE", "s.bin", "VCSTATE1"},
        {"VCABLE_TRACE=t.txt VCABLE_CALL_LOG=hard.txt",
         "VCABLE_CALL_LOG: names the same file as "
         "VCABLE_TRACE",
         "t.txt", "cable 0: "},
        {"VCABLE_VCD=v.vcd VCABLE_MODEL_ERRORS=to-v.vcd",
         "VCABLE_MODEL_ERRORS: names the same "
         "file as VCABLE_VCD",
         "v.vcd", "$version"},
        {"VCABLE_SCENARIO=scenario.toml VCABLE_CLOCK_REPORT=sub/../scenario.toml",
         "VCABLE_CLOCK_REPORT: names the same file as VCABLE_SCENARIO", "scenario.toml",
         "[[device]]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.environment);
        if (Has(row.environment, "SCENARIO") && !vc_scenario_files_supported()) continue;
        const HostRun run = Run(row.environment, "pins=08 errors");
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_TRUE(Has(run.err, row.refused)) << run.err;
        EXPECT_TRUE(Has(run.out, row.refused)) << "not a model error: " << run.out;
        EXPECT_EQ(0u, ReadFile(Path(row.kept)).rfind(row.start, 0)) << ReadFile(Path(row.kept));
        EXPECT_EQ(scenario, ReadFile(Path("scenario.toml")));
        EXPECT_EQ("", Leftovers());
    }
}

TEST_F(ProgramFilesTest, AStateFileThatDoesNotLoadOrNoLongerFitsIsLeftAsItIs) {
    ASSERT_EQ("1\n", Run("VCABLE_STATE=state.bin", "bump").out);
    WriteFile(Path("two.toml"),
              "[[device]]\ndescription = \"A\"\n[[device]]\ndescription = \"B\"\n");
    WriteFile(Path("junk.bin"), "not a state");
    struct Row {
        const char* environment;
        const char* steps;
        const char* why;
    };
    const Row rows[] = {
        {"VCABLE_STATE=junk.bin", "bump errors", "not a state file"},
        {"VCABLE_STATE=state.bin VCABLE_SCENARIO=two.toml", "bump errors",
         "saved with 1 device(s), but the scenario has 2"},
        {"VCABLE_STATE=state.bin", "bump twocables", "the devices changed since it was loaded"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.environment + std::string(" ") + row.steps);
        if (!vc_scenario_files_supported() && std::string(row.why) != "not a state file") continue;
        const std::string before = ReadFile(Path("junk.bin")) + ReadFile(Path("state.bin"));
        const HostRun run = Run(row.environment, row.steps);
        EXPECT_EQ(0, run.exitCode) << run.err;
        EXPECT_TRUE(Has(run.err, row.why)) << run.err;
        // A file that does not load is a model error as soon as it is read.
        EXPECT_EQ(Has(row.steps, "errors"), Has(run.out, row.why)) << run.out;
        EXPECT_EQ(before, ReadFile(Path("junk.bin")) + ReadFile(Path("state.bin")));
    }
    EXPECT_EQ("2\n", Run("VCABLE_STATE=state.bin", "bump").out);
}

TEST_F(ProgramFilesTest, ProgramsOnOneStateFileTakeTurns) {
    fs::create_symlink("state.bin", Path("via-link.bin"));
    // The lock the kestrel tool takes for --state: a program waits for it, through a link too.
    const int lock = open(Path("state.bin.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(0, flock(lock, LOCK_EX));
    const pid_t waiting = Start("VCABLE_STATE=via-link.bin", "bump");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Has(ReadFile(dir_ + ".host.err"), "waiting for another program") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(0, waitpid(waiting, nullptr, WNOHANG));
    close(lock);
    EXPECT_EQ("1\n", Finish(waiting).out);

    // Three at once, each changing what the one before saved.
    const char* const names[] = {"state.bin", "via-link.bin", "state.bin"};
    pid_t runs[3];
    for (int i = 0; i < 3; ++i) {
        runs[i] = Start(std::string("VCABLE_STATE=") + names[i], "bump pause", std::to_string(i));
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0, Finish(runs[i], std::to_string(i)).exitCode);
    EXPECT_EQ("5\n", Run("VCABLE_STATE=state.bin", "bump").out);
}

}  // namespace

#endif  // VCABLE_FILES_HOST
