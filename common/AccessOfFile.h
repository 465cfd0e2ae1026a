// The Windows side of the access decision (AccessDecision.h): a file's
// descriptor and the calling process, read into the portable model, and
// the owner of a file set back to the original's before the replace.
//
// Around a replace, the caller does:
//     original = DescriptorOf(target)          // READ_CONTROL
//     SetOwner(replacement, original->owner)   // where it fails, the owner becomes the caller's
//     ... ReplaceFileW ...
//     Decide(original, DescriptorOf(result), CurrentCaller())
#ifndef KESTRANE_ENGINE_ACCESS_OF_FILE_H
#define KESTRANE_ENGINE_ACCESS_OF_FILE_H

#include <windows.h>

#include <optional>
#include <string>

#include "AccessDecision.h"
#include "Handles.h"

namespace kes::access {

// The owner, group and access list of an open file (or any kernel object),
// opened with READ_CONTROL; nothing when the system gives none.
std::optional<Descriptor> DescriptorOf(HANDLE object);

// The process's user, the groups it may name as an owner and its default
// owner. A token that cannot be read gives a caller with no SIDs, for whom
// no owner change is accepted. Read once: the process's token keeps its
// user and groups for as long as it runs, and a run asks for every file.
const Caller& CurrentCaller();

// The owner a file this process creates is given: the token's default
// owner. Empty when the token cannot be read.
const std::string& DefaultOwner();

// Whether this runs under Wine, which keeps no owners of its own: a file's
// owner there is its Unix owner, and setting another is ignored.
bool UnderWine();

// Makes `owner` ("S-1-...", as DescriptorOf writes it) the owner of the
// object, opened with READ_CONTROL and WRITE_OWNER. A process may name
// itself or a group it may own; any other account needs
// SeRestorePrivilege, which an elevated process holds but must enable: it
// is enabled for that one call. True only when the object's owner then
// reads back as `owner`.
bool SetOwner(HANDLE object, const std::string& owner);

// One privilege of the process token enabled for the life of the object,
// and put back as it was after: disabled again, or left enabled where it
// already was. The token is the whole process's, so the scope is kept to
// the one call that needs it.
class CPrivilegeScope {
public:
    explicit CPrivilegeScope(const char* name);  // SE_RESTORE_NAME and its kind
    CPrivilegeScope(const CPrivilegeScope&) = delete;
    CPrivilegeScope& operator=(const CPrivilegeScope&) = delete;
    ~CPrivilegeScope();

    // False when the token does not hold the privilege (a process that is
    // not elevated) or could not be changed.
    bool Enabled() const { return enabled_; }

private:
    CFileHandle token_;  // a kernel handle, closed as a file's is
    TOKEN_PRIVILEGES previous_{};
    bool enabled_ = false;
};

}  // namespace kes::access

#endif
