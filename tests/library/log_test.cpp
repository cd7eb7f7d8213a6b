// The progress log: where it goes, what bytes it holds, and that failures to write it are silent.
#include "log/log.h"

#include <fstream>
#include <string>

#include "kestrellink.h"
#include "kestrellink_result_codes.h"
#include "library_fixture.h"
#include "log_directory.h"
#include "platform/text.h"

namespace rc = kestrellink_result_codes;

namespace kl::testing {
namespace {

using log::AppendLog;
using log::PathInLogDirectory;

class LogTest : public LibraryTest {};

TEST_F(LogTest, PathJoinsDirectorySlashAndName) {
    struct Row {
        std::u16string directory;
        std::u16string expected;
    };
    const Row rows[] = {
        {u"", u"/Log.txt"},  // no directory yet: the root of the file system
        {u"/tmp/x", u"/tmp/x/Log.txt"},
        {u"/tmp/x/", u"/tmp/x//Log.txt"},  // a trailing separator is kept
        {u"C:\\logs\\", u"C:\\logs\\/Log.txt"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(directoryB(row.directory.c_str()), rc::kDirectoryRecorded);
        EXPECT_EQ(std::u16string(PathInLogDirectory(u"Log.txt")), row.expected);
    }
}

TEST_F(LogTest, StoresOneBytePerCharacterAndCrLfLineEnds) {
    LogDirectory dir;
    AppendLog(u"202\n");
    AppendLog(u"two\nlines");
    AppendLog(u"\n");
    AppendLog(u"caf\u00E9 \u20AC");  // U+00E9 is one byte; U+20AC has none
    EXPECT_EQ(dir.log(), std::string("202\r\ntwo\r\nlines\r\ncaf\xE9 ?"));
}

TEST_F(LogTest, EntriesOfTwoRunsAccumulate) {
    LogDirectory dir;
    AppendLog(u"202\n");
    log::AppendLogLine(u"Zelvorinex");
    AppendLog(u"Finish!!!\n");
    AppendLog(u"202\n");
    EXPECT_EQ(dir.log(), LogLines({"202", "Zelvorinex", "Finish!!!", "202"}));
}

TEST_F(LogTest, EntryIsDroppedWhenTheFileCannotBeOpened) {
    LogDirectory dir;
    // A regular file where the directory should be: the open fails even for root.
    std::string blocker = dir.path() + "/not-a-directory";
    std::ofstream(blocker) << "x";
    directoryB(std::u16string(blocker.begin(), blocker.end()).c_str());
    AppendLog(u"lost\n");
    directoryB(dir.widePath().c_str());
    AppendLog(u"kept\n");  // the next entry is written normally
    EXPECT_EQ(dir.log(), LogLines({"kept"}));
}

TEST_F(LogTest, LongDirectoriesAreBoundedAndOverlongPathsDropTheEntry) {
    // 321 characters fit the directory; the path then has no room for "/Log.txt".
    std::u16string longest(321, u'd');
    directoryB((longest + u"tail").c_str());
    EXPECT_EQ(std::u16string(log::LogDirectory()), longest);
    EXPECT_EQ(PathInLogDirectory(u"Log.txt"), nullptr);
    AppendLog(u"dropped\n");  // must neither crash nor write anywhere

    // The longest directory that still fits: 321 - 8 characters.
    std::u16string fits(313, u'd');
    directoryB(fits.c_str());
    EXPECT_EQ(text::Length(PathInLogDirectory(u"Log.txt")), 321u);
}

TEST_F(LogTest, NullDirectoryCountsAsEmpty) {
    EXPECT_EQ(directoryB(nullptr), rc::kDirectoryRecorded);
    EXPECT_EQ(std::u16string(PathInLogDirectory(u"Log.txt")), u"/Log.txt");
}

}  // namespace
}  // namespace kl::testing
