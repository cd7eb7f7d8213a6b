// The progress log "Log.txt" in the directory the host sets with directoryB.
#pragma once

#include "platform/platform.h"

namespace kl::provision {

constexpr size_t kLogPathUnits = 322;  // 321 characters and the NUL

// LogDirectory + "/" + name in LogFilePath; null when the joined path would not fit.
const WChar* PathInLogDirectory(const WChar* fileName);

// Appends text (one byte per character, LF stored as CR LF) to the file; silently drops the
// entry when the file cannot be opened.
void AppendTextToFile(const WChar* text, const WChar* path);

// Appends to "Log.txt" in the log directory.
void AppendLog(const WChar* text);

void ResetLogForTests();

}  // namespace kl::provision
