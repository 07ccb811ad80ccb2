// The program folder and the paths built from it. Set once at start-up,
// before any other thread starts; read-only afterwards.
#pragma once

#include <sys/types.h>

#include <string>

namespace brindlex {

// $BRINDLEX_HOME when set and not empty, else the folder of the executable;
// without a trailing '/'.
std::string ResolveProgramFolder();

void SetProgramFolder(std::string folder);
const std::string& ProgramFolder();
std::string LoggingFolder();
std::string CacheFolder();
std::string WwwrootFolder();
std::string FormsFolder();
std::string SettingsFilePath();

// Creates a folder; an existing one is no error. Returns false on failure.
bool EnsureFolder(const std::string& path);

// The single-instance lock: an exclusive lock of the open file description
// (F_OFD_SETLK) on the file "brindlex.lock" in the program folder, held for
// the life of the process and kept however often the process opens and closes
// the file elsewhere. The holder writes its pid into the file. Returns the
// descriptor;
// kInstanceLockHeld when another process holds it; kInstanceLockUnavailable
// when the file cannot be opened (a folder that does not exist or cannot be
// written), with errno telling why.
inline constexpr int kInstanceLockHeld = -1;
inline constexpr int kInstanceLockUnavailable = -2;
int AcquireInstanceLock(const std::string& folder);

// The process that holds the single-instance lock of the folder: its pid;
// 0 when no process holds it (a pid left in the file by an ended holder
// counts for nothing); kInstanceHolderUnknown when one does but its pid
// cannot be seen from here (another pid namespace, or not yet written). A
// process never sees its own lock.
inline constexpr pid_t kInstanceHolderUnknown = -1;
pid_t InstanceLockHolder(const std::string& folder);

}  // namespace brindlex
