#pragma once

#include <QtGlobal>

// Last guards for a short-lived process that reads hostile files, such as the thumbnailer that a
// file manager runs on every download: whatever the file makes the code do, the process ends
// within its time and never grows past its memory.
namespace ProcessGuard {

// Lowers the soft address-space limit to bytes; an allocation beyond it fails instead of growing
// the process. The hard limit stays, so that helpers started later can set their own. A
// sanitized build sets none (see limitsMemory).
bool limitAddressSpace(quint64 bytes);
// Whether limitAddressSpace sets a limit: not in a build whose sanitizers' shadow memory needs
// the room.
bool limitsMemory();

// Ends the process with exitCode once seconds have passed, whatever it is doing then.
void exitAfter(int seconds, int exitCode);

// The most memory any waited-for child process had resident, in bytes.
quint64 peakChildResidentBytes();

} // namespace ProcessGuard
