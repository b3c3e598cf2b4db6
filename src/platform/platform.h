#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The one door to the operating system. Everything that needs X11, xcb, D-Bus or /proc goes
// through here; callers stay portable and keep working where a call has no effect (the offscreen
// platform of the tests, Wayland without XWayland).
namespace Platform {

enum class WindowSystem { X11, Wayland, Offscreen, Other };

WindowSystem windowSystem();
QString windowSystemName();

// Replacing a file durably (platformfiles.cpp). Each answers false on failure, with the
// system's reason in error.

// Writes the file's data and size to the disk before returning.
bool syncFile(const QString &path, QString *error = nullptr);
// The same for a file this process holds open, by its descriptor (QFileDevice::handle()).
bool syncOpenFile(int handle, QString *error = nullptr);
// Writes the folder's entries (a rename in it) to the disk before returning.
bool syncDirectory(const QString &path, QString *error = nullptr);
// Renames from to to in one step, replacing to: whoever opens to sees the old file or the new
// one, never none. Both must be on one file system.
bool replaceFile(const QString &from, const QString &to, QString *error = nullptr);

// Puts a file with data at path in one step: written beside it, synced, renamed over it, so that
// whoever opens path finds the old file whole or the new one whole, and a failure leaves nothing
// behind. An existing file's permissions are kept; a new one gets the usual ones (umask). False
// with the system's reason in error; nameRefused, when given, tells whether the system refused
// the name itself (too long, characters the file system rejects).
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error = nullptr,
    bool *nameRefused = nullptr);

// Makes the folder, and its parents, for this user alone: a new folder is made 0700, one of ours
// that others may enter is closed to them. False, with the reason in error, when it cannot be
// made, is not a folder (a link counts as not one) or belongs to another user.
bool makePrivateDirectory(const QString &path, QString *error = nullptr);

// What tells the file at path from every other one while it exists, whatever names it has or
// gets (its device and inode); empty when there is no such file.
QString fileIdentity(const QString &path);

// Lets the pages of a read-only file mapping in [address, address + length) go from this
// process's resident memory once read: the system keeps them in its file cache, and they come
// back when read again. Only whole pages inside the range go.
void releaseMappedPages(const uchar *address, qint64 length);

// Lowers the calling thread's scheduling priority for good, so that the program's other threads
// get the cores first whenever they want them. For threads of work nobody waits for.
void lowerThreadPriority();

// The processor time the calling thread has used, in seconds.
double threadCpuSeconds();

// Whether a process of that id runs (of any user); false for ids that name no single process.
bool processExists(qint64 processId);

// Makes every large block the process frees go back to the system at once. Called at start-up,
// before the first picture.
void returnFreedLargeBlocks();
// Gives the system back the free pages inside the heap and the threads' arenas: what the allocator
// kept after a board's many small blocks were freed. Some milliseconds; any thread.
void returnFreedHeapPages();

// Opens the file manager with these files selected (the desktop's FileManager1 service); where
// no such service answers, opens each of their folders instead. Missing files are skipped.
void showInFileManager(const QStringList &paths);

// Window stacking (platformwindow.cpp). The window manager keeps the window above or below every
// other window (_NET_WM_STATE_ABOVE / _BELOW on X11); the native window is not re-created, so it
// neither flickers nor loses its place. Without a window manager the request changes nothing
// visible and the caller keeps its own state.
enum class Stacking { Normal, AlwaysOnTop, AlwaysOnBottom };
void setWindowStacking(QWidget *window, Stacking stacking);
Stacking windowStacking(const QWidget *window);

// Clicks pass through the window to what lies below it. Switching it off gives the whole window
// back its input, at whatever size it has later.
void setTransparentForInput(QWidget *window, bool on);
// Whether windows can be see-through: on X11 a compositing manager runs; Wayland compositors
// always compose. Without one, transparent pixels show black.
bool hasCompositor();

// Installations (platforminstall.cpp).

// Whether a Debian package installed this program file: dpkg lists it among the files of the
// package "velkora" in its database folder.
bool isPackageFile(const QString &programPath,
    const QString &packageDatabase = QStringLiteral("/var/lib/dpkg/info"));
// How many running processes run a program file of this name (this process included when it is
// one). Processes of other users whose program cannot be read are not counted.
int countProcessesNamed(const QString &programFileName);

} // namespace Platform
