// The safe rewrite of a file: the bundled plug-ins write through it, and
// the tool puts a file back through it.
#ifndef KESTRANE_SAFE_REPLACE_H
#define KESTRANE_SAFE_REPLACE_H

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "FilePath.h"
#include "Handles.h"
#include "HeldRetry.h"

namespace kes {

// The results, which are the plug-in interface's Cpi* codes (cpi.h): a tool
// that knows them says why a file was refused, and any other tells zero
// from non-zero.
enum WriteResult {
    kWritten = 0,
    kRefused = 1,           // not this format, or damaged
    kReadOnly = 2,          // the target is read-only and is left as it is
    kFileFailed = 3,        // the target could not be replaced; it is left as it was
    kNoMemory = 4,
    kChangedElsewhere = 5,  // another program saved the target since it was read; left as saved
    kUnexpected = 6,        // an unforeseen failure; the target is left as it was
    kCommentNotHeld = 7,    // the format cannot hold a character of the comment; left as it was
    kBackupLeft = 8,        // written, but the original stays beside it under a backup name
    kCommentTooLong = 9,    // the format has no room for a comment this long; left as it was
};

// The new contents, handed piece by piece to `put`, which writes them on;
// false when a piece could not be made or `put` failed.
using TContentsWriter = std::function<bool(const std::function<bool(std::string_view)>& put)>;

// Looks at the target before anything else is done: kWritten when it may
// be rewritten, else why not. A read-only file, a directory and a reparse
// point (a symbolic link, a junction, a cloud drive's placeholder, which a
// rewrite would replace by a plain file) are refused, and so is a file
// whose size is no longer that of the contents handed over: another
// program saved it since. `seen` keeps what was found, for ReplaceContents.
WriteResult CheckTarget(const TFilePath& path, size_t handedSize, WIN32_FILE_ATTRIBUTE_DATA& seen);

// The part of that look which the attributes alone decide: kWritten, or
// kReadOnly, or kFileFailed for a directory or a reparse point.
WriteResult CheckAttributes(DWORD attributes);

// kWritten when the file is reached by this name alone: it has no further
// names (hard links) and the name leads nowhere else (a symbolic link).
// ReplaceContents checks this again just before the replace; a reader
// asks it to say beforehand what a write would find.
WriteResult CheckSoleName(const TFilePath& path);

// Whether `result`, made from `original` by a replace, may not stay as
// it is: it gives someone other access, or has an owner the caller may
// not become (AccessDecision.h). Where either file cannot be opened, it
// may not.
bool SecurityDiffers(const TFilePath& result, const TFilePath& original);

// Whether the open file `h` is what `path` leads to with no link anywhere
// on the way: every folder of the path is its parent's own entry and the
// file its folder's. An undo puts a file back only where the run left it,
// not through a folder that has become a link to a copy elsewhere. The
// folders' names come from `folders`.
class CFolderNames;
bool ReachedWithoutLinks(HANDLE h, const TFilePath& path, CFolderNames& folders);

// The system's names of folders, each asked for once: a path's folders are
// those of every file beside it, and asking costs an open of each. For the
// files of one undo group, all looked at before any is written, so that a
// name is no older than the look at the group's first file; each file's
// replace asks its folder's name anew.
class CFolderNames {
public:
    std::optional<std::wstring> Of(const TFilePath& folder);

private:
    std::map<std::wstring, std::optional<std::wstring>> names_;
};

// The names of a replace's temporary file and of the original's backup,
// in the target's folder, made from a token: a journal keeps the token
// before either file exists, so that after a crash the next start can
// tell them as the tool's own.
std::wstring TemporaryName(uint64_t token);
std::wstring BackupName(uint64_t token);
// A token that no other replace is likely to have: 64 random bits.
uint64_t NewReplaceToken();

// The new contents of a target, in a file beside it named by a token and
// with the target's attributes, until they replace it. The file is deleted
// when the object goes, unless it has become the target.
class CReplacement {
public:
    // Creates the file; a name already in use is not ours, and is left.
    CReplacement(const TFilePath& target, uint64_t token, DWORD attributes);
    ~CReplacement();
    CReplacement(const CReplacement&) = delete;
    CReplacement& operator=(const CReplacement&) = delete;

    bool Created() const { return created_; }
    bool Write(std::string_view bytes);
    // The result's modification time; without it, the time of the write.
    bool SetTime(const FILETIME& modified);
    // Sends the data to the disk without the flush of the disk's cache, so
    // that one FlushVolume of any file of the volume makes many durable;
    // false where the system cannot (then that file needs a Flush of its
    // own).
    bool WriteOut();
    bool Flush();
    HANDLE Handle() const { return file_.Get(); }
    const TFilePath& Path() const { return path_; }
    const TFilePath& Backup() const { return backup_; }
    // Replaces the target with this file in one step, as ReplaceContents
    // does once its file is written and durable; a target held by another
    // program for a moment is waited for through `retry`. `fileNumber`,
    // when given, gets the target's number on its volume after the replace.
    WriteResult Replace(const WIN32_FILE_ATTRIBUTE_DATA& seen, CHeldRetry& retry,
                        std::optional<uint64_t>* fileNumber = nullptr);
    // Why the last Replace failed, where the system said: ERROR_SUCCESS
    // for a refusal of the replace's own.
    DWORD Error() const { return error_; }

private:
    TFilePath target_, path_, backup_;
    CFileHandle file_;
    bool created_ = false;
    bool kept_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

// Makes durable everything written to the volume of `file`, files that
// WriteOut sent on their way included, with one flush of the disk's cache.
bool FlushVolume(HANDLE file);

// Which written files one FlushVolume serves together: those of one
// volume, told by its serial number. Under Wine on Linux one drive may
// span several Linux file systems (Z: is the whole Unix tree), and the
// flush reaches only its own, so there the file system tells. Nothing
// where neither can be told: the file needs a flush of its own.
std::optional<uint64_t> FlushGroupOf(HANDLE file, std::optional<uint32_t> volumeSerial);

// Replaces the file's contents in one step: a temporary file in its folder,
// with its attributes, replaces it through ReplaceFileW, which keeps its
// alternate streams, encryption, compression and short name. The result's
// modification time is `modified`, or the time of the write when that is
// null. Just before the replace, the file must still be as
// `seen` and pass CheckSoleName's test: a file that another program has
// open or has saved meanwhile is refused too, once it has been held for
// longer than a moment. Its access list must come out of the replace
// granting what it did, and its owner be kept or become the caller, or
// the original is put back. On any failure the file is left as it was and no temporary file
// remains. kBackupLeft: written, but the original could not be deleted
// from its backup name and stays beside the file.
WriteResult ReplaceContents(const TFilePath& path, const WIN32_FILE_ATTRIBUTE_DATA& seen,
                            const TContentsWriter& contents, const FILETIME* modified);

}  // namespace kes

#endif
