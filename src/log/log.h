// The progress log "Log.txt" in the directory the host sets with directoryB.
//
// Entries are appended with the file opened and closed each time; one byte per character
// (characters above U+00FF become '?'), every line feed stored as CR LF. An entry is dropped
// silently when the file cannot be opened or the joined path would not fit its 321 characters.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace kl::log {

constexpr size_t kLogPathUnits = 322;  // 321 characters and the NUL

// LogDirectory + "/" + name in LogFilePath; null when the joined path would not fit.
const WChar* PathInLogDirectory(const WChar* fileName);

// Appends text (one byte per character, LF stored as CR LF) to the file; silently drops the
// entry when the file cannot be opened.
void AppendTextToFile(const WChar* text, const WChar* path);

// Appends to "Log.txt" in the log directory. Fixed texts carry their own line feed.
void AppendLog(const WChar* text);

// A value read or converted at run time: the value in one append, its line end in a second.
void AppendLogLine(const WChar* value);

// LogDirectory: set by directoryB (truncated to 321 characters), empty at load.
void SetLogDirectory(const WChar* directory);
const WChar* LogDirectory();

void ResetLogForTests();

}  // namespace kl::log
