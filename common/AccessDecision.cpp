#include "AccessDecision.h"

#include <algorithm>
#include <map>
#include <set>

namespace kes::access {
namespace {

// The entries that act on the file itself. Inherit-only ones are templates
// for a folder's children and grant nothing here; whether an entry was
// inherited or set on the file does not change what it grants, so an
// inherited list made explicit compares as the same. Nothing when an entry
// of another type acts on the file, since what it grants cannot be told.
std::optional<std::vector<Ace>> Acting(const std::vector<Ace>& dacl) {
    std::vector<Ace> acting;
    for (const Ace& ace : dacl) {
        if (ace.flags & kInheritOnlyAce) continue;
        if (ace.kind == AceKind::kOther) return std::nullopt;
        acting.push_back(ace);
    }
    return acting;
}

using Rights = std::map<std::string, uint32_t>;

// Every right that the entries of one kind name, by SID. Generic rights
// are bits like the others: a list that grants FILE_ALL_ACCESS where the
// other granted GENERIC_ALL differs from it, which refuses rather than
// guesses what the system made of them.
Rights RightsOf(const std::vector<Ace>& entries, AceKind kind) {
    Rights rights;
    for (const Ace& ace : entries) {
        if (ace.kind == kind) rights[ace.sid] |= ace.mask;
    }
    return rights;
}

bool Covers(const Rights& wide, const Rights& narrow) {
    return std::all_of(narrow.begin(), narrow.end(), [&](const auto& entry) {
        const auto held = wide.find(entry.first);
        return (entry.second & ~(held == wide.end() ? 0u : held->second)) == 0;
    });
}

// The SIDs that an allow entry gives `right` to ahead of the first entry
// that denies it to `sid`.
std::set<std::string> AllowedAhead(const std::vector<Ace>& entries, const std::string& sid, uint32_t right) {
    std::set<std::string> ahead;
    for (const Ace& ace : entries) {
        if (!(ace.mask & right)) continue;
        if (ace.kind == AceKind::kDeny && ace.sid == sid) break;
        if (ace.kind == AceKind::kAllow) ahead.insert(ace.sid);
    }
    return ahead;
}

// Whether `result` grants no one a right that `original` does not, whatever
// groups they are in. Windows decides each right by the first entry in the
// list that names one of the caller's SIDs with that right. So every allow
// of the result must be in the original, every deny of the original must
// be in the result, and an allow that the result puts ahead of a deny must
// stand ahead of it in the original too: a deny moved behind an allow for
// the same people no longer denies.
bool GrantsNoMore(const std::vector<Ace>& original, const std::vector<Ace>& result) {
    const Rights denied = RightsOf(original, AceKind::kDeny);
    if (!Covers(RightsOf(original, AceKind::kAllow), RightsOf(result, AceKind::kAllow)) ||
        !Covers(RightsOf(result, AceKind::kDeny), denied))
        return false;
    for (const auto& [sid, mask] : denied) {
        for (uint32_t right = 1; right != 0; right <<= 1) {
            if (!(mask & right)) continue;
            const std::set<std::string> before = AllowedAhead(original, sid, right);
            const std::set<std::string> after = AllowedAhead(result, sid, right);
            if (!std::includes(before.begin(), before.end(), after.begin(), after.end())) return false;
        }
    }
    return true;
}

// A list that grants less is refused as well as one that grants more: the
// people who shared the file would lose it, and a Unix mode that Wine
// narrows is as much a change as one it widens. A null list grants more
// than any list, even to those outside Everyone.
bool SameAccess(const Descriptor& a, const Descriptor& b) {
    if (a.hasDacl != b.hasDacl) return false;
    if (!a.hasDacl) return true;
    const std::optional<std::vector<Ace>> actingA = Acting(a.dacl), actingB = Acting(b.dacl);
    return actingA && actingB && GrantsNoMore(*actingA, *actingB) && GrantsNoMore(*actingB, *actingA);
}

bool IsCaller(const std::string& sid, const Caller& caller) {
    return !sid.empty() && (sid == caller.user || std::find(caller.ownerGroups.begin(), caller.ownerGroups.end(),
                                                            sid) != caller.ownerGroups.end());
}

}  // namespace

// A file system that keeps no descriptors answers both queries alike (FAT
// with one that grants everyone everything, others not at all), so two
// failed queries are no difference. One failed query of two, moments apart
// on the same file, means that something changed that cannot be seen: the
// result may no longer let the caller read its descriptor (an owner or a
// list it did not have), or the original's was never known. Even a
// result whose original granted everyone everything cannot be shown to
// keep its owner. So it is refused, which costs one file left as it was.
Verdict Decide(const std::optional<Descriptor>& original, const std::optional<Descriptor>& result,
               const Caller& caller) {
    if (!original || !result) return original || result ? Verdict::kUnreadable : Verdict::kSame;
    if (!SameAccess(*original, *result)) return Verdict::kAccessChanged;
    if (result->owner == original->owner) return Verdict::kSame;
    return caller.ownerMayBecomeCaller && IsCaller(result->owner, caller) ? Verdict::kCallerOwns
                                                                          : Verdict::kOwnerChanged;
}

bool Accepted(Verdict verdict) { return verdict == Verdict::kSame || verdict == Verdict::kCallerOwns; }

}  // namespace kes::access
