// The running program's own file, and where the files it keeps beside
// itself are read and written.
#pragma once

#include <string>

namespace platform {

// The full path of the current process's executable, as the operating system
// reports it; empty when the system cannot tell (callers then work relative
// to the current folder).
std::string RunningProgramPath();
// The character that separates folders in such a path.
char PathSeparator();

// Where a program's files beside it end up when its folder is one Windows
// virtualizes for older programs: the folder cannot be written by this
// account and lies in a protected location (Program Files, Program Files
// (x86), the Windows folder). Windows then keeps such a program's files in
// %LOCALAPPDATA%\VirtualStore\<the folder without its drive>\ – but only
// for 32-bit programs that declare no execution level, so ours do the same
// themselves. That folder (with its separator at the end), created when
// missing; empty where nothing is virtualized (always on other systems).
std::string VirtualStoreFolder();

// `name` (a file or folder beside the program, '/' between its own parts)
// where it is to be read and written: beside the program, or, with a
// VirtualStore folder, there – what exists only beside the program is
// copied there first, as Windows does before a program writes it, whatever
// else the VirtualStore folder holds. Each file is copied whole or not at
// all (a copy cut short is never found under its name); a folder is copied
// once, with all in it, and what the VirtualStore folder has is never
// replaced. An empty `name` gives the folder itself (with its separator),
// with every file beside the program that is not a program or library
// copied likewise.
std::string FileBesideRunningProgram(const std::string& name);

// True when this process copied the file `path` (as FileBesideRunningProgram
// gave it) into the VirtualStore folder; always false where nothing is
// virtualized.
bool CopiedIntoVirtualStore(const std::string& path);

}  // namespace platform
