#pragma once

#include <QtGlobal>

class BaseLoader;
class LoadJob;
class QFile;

// Forced recovery of a board whose records cannot be trusted: every picture stream the file
// holds is found by its signature and its own end, whatever the index and records say, and
// handed over as an item of its own. Runs on the loader thread; the pictures decode on the global
// pool, a bounded number ahead of the one handed over.
namespace SaveFileRecovery {

struct Outcome {
    // Whether the file could be mapped at all; nothing else is set when it could not.
    bool readable = false;
    int found = 0;
    int failed = 0;
};

// Reports each picture on job through reporter, progress counting up to expected (the damaged
// header's picture count), or busy while streams fail. Returns once every stream was tried or
// the job was canceled.
Outcome recoverPictures(BaseLoader *reporter, LoadJob *job, QFile *file, qint64 size, int expected);

} // namespace SaveFileRecovery
