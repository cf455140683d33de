#pragma once
// Files that must appear whole or not at all, and the few facts about files
// that Qt does not give: identity on disk and use as a running program.
#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

// A new file written under a temporary name beside its target. commit()
// flushes it to disk and puts it in the target's place in one step; until
// then, and whenever a step fails, the target stays exactly as it was, and
// no temporary file is left behind. The step replaces the folder entry
// itself: a target that is a link or a shortcut becomes the new file, and
// whatever it led to is never opened or written.
class WholeFile {
public:
    explicit WholeFile(const QString& target);
    ~WholeFile();  // discards what was not committed
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    bool open();
    bool write(const char* data, qint64 size);
    // The new file gets the permissions of the file it replaces, else the
    // usual ones for a new file; `runnable` adds the run permission wherever
    // reading is allowed.
    bool commit(bool runnable);
    void discard();
    // Marks the file, once committed, as come from the internet (Windows:
    // the Zone.Identifier stream, zone 3), so that the system and Office
    // treat it with care. Best effort: a file system without streams gets
    // no mark and commit() does not fail for it. Nothing elsewhere.
    void markFromInternet();
    // The system's code (errno, the last-error code) of the step that failed
    // last; 0 when none did.
    int error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// True when the entry `path` itself is a symbolic link or, on Windows, a
// junction or another link to a folder; false for anything else, a missing
// entry included.
bool IsLink(const QString& path);

// Adds the run permission wherever reading is allowed. On failure `error`
// (when given) receives the system's reason.
bool MakeRunnable(const QString& path, QString* error = nullptr);

// Moves `from` over `to` in one step: `to` is afterwards either the file it
// was or the whole of `from`, never missing. Both must be on one volume.
bool ReplaceFile(const QString& from, const QString& to, QString* error = nullptr);

// The name under which `folder` stores the plain file `name` (a file, not a
// folder; on Windows neither hidden nor a system file, and found whatever the
// case of `name`); empty when there is none. `name` is one name, never a
// path or a pattern: one that could be either finds nothing.
QString FindPlainFile(const QString& folder, const QString& name);
// The name under which `folder` stores whatever `name` leads to there: any
// file or folder, hidden or not, found whatever the case of `name` (and on
// Windows by its short name too); empty when there is none. The same rules
// for `name` as above.
QString FindStoredName(const QString& folder, const QString& name);

// A file's identity on disk, the same whatever name leads to it.
struct FileId {
    QByteArray key;  // empty: no such file
    bool valid() const { return !key.isEmpty(); }
    bool operator==(const FileId& other) const { return valid() && key == other.key; }
};
FileId FileIdentity(const QString& path);

// True while a process other than this one runs the program file `file`.
// Processes the user may not inspect are not the user's and are skipped.
bool IsRunningProgram(const FileId& file);

}  // namespace platform
