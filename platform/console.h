// The program's standard output and error streams.
#pragma once

namespace platform {

// Makes both streams pass every byte on as written, so the trace and the
// messages are the same bytes on every system (Windows would otherwise turn
// each line feed into CR LF), and a console shows their UTF-8 text as such.
// Call it once, first thing in main.
void PrepareStandardStreams();

}  // namespace platform
