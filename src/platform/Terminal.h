#pragma once

#include <cstdio>

namespace varnel {

// Any thread. True when the stream is connected to a terminal (so a line redrawn in place
// with '\r' is seen as one line, not as a log of every redraw).
bool IsTerminal(std::FILE* stream);

// Main thread, before other threads start (the environment is not thread-safe). Sets the
// environment variable to value unless it is already set; false when it could not be set.
bool SetEnvironmentDefault(const char* name, const char* value);

} // namespace varnel
