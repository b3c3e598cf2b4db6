#pragma once

#include <functional>

class QWidget;

// What updating needs of the window: a parent for its questions and the updater's window,
// whether jobs still run, the unsaved-changes question and the way out of the process. The main
// window implements it.
class UpdateControllerHost {
public:
    virtual ~UpdateControllerHost() = default;

    virtual QWidget *asWidget() = 0;
    // No job asked for, running or still to report its end.
    virtual bool isIdle() const = 0;
    // The unsaved-changes question before an update: true when the update may go on now; false
    // when it was cancelled, or a save was chosen, which calls restart once it has succeeded.
    virtual bool confirmUnsavedChangesBeforeUpdate(std::function<void()> restart) = 0;
    // Ends the process with exitCode, asking nothing.
    virtual void hardExit(int exitCode) = 0;
};
