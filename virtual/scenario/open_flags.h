// The open() flags of the virtual cable's own files on both platforms: byte for byte (no newline
// translation on Windows), and not left open in a program the host starts (Linux).
#pragma once

#include <fcntl.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
