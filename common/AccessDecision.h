// Whether a rewritten file still gives the same people the same access as
// before. Portable: the descriptors are read into the model below by the
// Windows side (AccessOfFile.h), and the decision is a plain function of
// them, so that it is tested natively over descriptors of every kind.
//
// The replace gives the result a new file's owner (the caller, or
// Administrators for an elevated run) wherever the old one cannot be set
// again. So the owner may become the caller where the platform lets owners
// differ from the caller at all, and only when the access list grants
// exactly what it did; any other owner, and any list that grants more or
// less, make the tool put the original back. The primary group is not
// looked at: Windows grants nothing through it, and files from another PC
// carry groups that this one has never heard of.
#ifndef KESTRANE_ENGINE_ACCESS_DECISION_H
#define KESTRANE_ENGINE_ACCESS_DECISION_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kes::access {

// The ACE header flags that the decision reads, as Windows defines them.
constexpr uint8_t kInheritOnlyAce = 0x08;  // a template for children only
constexpr uint8_t kInheritedAce = 0x10;

enum class AceKind { kAllow, kDeny, kOther };

// One entry of an access list. kOther is any other type (object,
// callback, conditional): their meaning lies in data the model does not
// keep.
struct Ace {
    AceKind kind = AceKind::kAllow;
    uint8_t flags = 0;
    uint32_t mask = 0;
    std::string sid;  // "S-1-..."
};

struct Descriptor {
    std::string owner, group;  // "S-1-...", empty when the descriptor has none
    // No list at all (a null DACL) grants everyone everything; an empty
    // one grants nobody anything.
    bool hasDacl = false;
    std::vector<Ace> dacl;
};

// The process that replaced the file.
struct Caller {
    std::string user;
    // The groups the caller may name as an owner (Administrators when
    // elevated), and its default owner.
    std::vector<std::string> ownerGroups;
    // Whether the platform can keep an owner other than the caller at all:
    // Windows can; Wine has no owners of its own to keep.
    bool ownerMayBecomeCaller = false;
};

enum class Verdict {
    kSame,           // owner and access as they were
    kCallerOwns,     // access as it was; the owner became the caller
    kAccessChanged,  // the list grants someone more or less, or may
    kOwnerChanged,   // an owner that is not the caller, or where owners stay
    kUnreadable,     // one side's descriptor could not be read
};

// The verdict on `result` (the rewritten file) against `original`, either
// of them nothing where the system gave no descriptor.
Verdict Decide(const std::optional<Descriptor>& original, const std::optional<Descriptor>& result,
               const Caller& caller);

// Whether a verdict lets the rewritten file stay.
bool Accepted(Verdict verdict);

}  // namespace kes::access

#endif
