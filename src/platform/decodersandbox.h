#pragma once

#include <QtGlobal>

class QString;

// Takes from a decoder helper what it does not need: once entered, it can no longer open files,
// reach the network, start processes or write anywhere but to its standard error; it keeps reading
// the descriptors it is given and mapping memory. The address-space limit is lowered per picture
// to what that picture should need, under a hard limit the helper cannot raise.
namespace DecoderSandbox {

// Call before entering: the limit no picture may raise the helper above.
bool setHardMemoryLimit(quint64 bytes, QString *error);
// Gives the helper no more than its current address space plus bytes, within the hard limit.
void limitMemoryTo(quint64 extraBytes);
// Lifts the per-picture limit again, up to the hard one.
void liftMemoryLimit();

// No new privileges, then the system-call filter. False, with the reason, when the kernel refuses;
// the helper must then not decode anything.
bool enter(QString *error);

// Keeps the heap's memory from one picture to the next: handing it back after every picture and
// faulting it in again costs as much as decoding on some machines.
void keepHeapBetweenPictures();
// Hands the heap's free memory back, for a helper that has nothing to do.
void releaseIdleMemory();

// Ends the helper if it is still busy after seconds; 0 disarms. A last guard for a helper whose
// program is gone while it hangs.
void armWatchdog(int seconds);

} // namespace DecoderSandbox
