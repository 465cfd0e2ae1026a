// The access decision over the descriptors that real files carry, each
// case named for where such a file comes from. The Wine cases are the
// descriptors Wine 8 reports for files of those Unix modes and owners.
#include <gtest/gtest.h>

#include "AccessDecision.h"
#include "Sddl.h"

namespace kes::access {
namespace {

#define USER "S-1-5-21-1111-2222-3333-1001"
#define USER_GROUP "G:S-1-5-21-1111-2222-3333-513"
#define SIBLING "S-1-5-21-1111-2222-3333-1002"  // another account of this PC
#define GONE "S-1-5-21-4444-5555-6666-1001"     // an account of another PC
#define GONE_GROUP "G:S-1-5-21-4444-5555-6666-513"
#define WINE_USER "S-1-5-21-0-0-0-1000"
#define WINE_GROUP "G:S-1-5-21-0-0-0-513"

// What a file in a user's profile inherits, and one an installer left
// where users may change it.
#define PROFILE "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;" USER ")"
#define INSTALLED "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1301bf;;;BU)"
#define FROM_OTHER_PC "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;" GONE ")(A;ID;0x1301bf;;;AU)"
#define WINE_0600 "D:(A;;FA;;;SY)(A;;FA;;;" WINE_USER ")"
#define WINE_0644 WINE_0600 "(A;;0x1200a9;;;WD)"
#define WINE_0666 WINE_0600 "(A;;0x1301ff;;;WD)"

const Caller kUser{USER, {USER}, true};
const Caller kElevated{USER, {"S-1-5-32-544"}, true};
const Caller kWine{WINE_USER, {"S-1-5-21-0-0-0-513", "S-1-5-32-544"}, false};

struct Case {
    const char* name;
    const char* original;  // null: the query failed
    const char* result;
    const Caller& caller;
    Verdict verdict;
};

const Case kCases[] = {
    {"the user's own file, replaced on Windows", "O:" USER USER_GROUP PROFILE, "O:" USER USER_GROUP PROFILE, kUser,
     Verdict::kSame},
    {"an installer's file owned by Administrators, written without elevation", "O:BAG:SY" INSTALLED,
     "O:" USER USER_GROUP INSTALLED, kUser, Verdict::kCallerOwns},
    {"a file of an account that no longer exists, on a disk from another PC", "O:" GONE GONE_GROUP FROM_OTHER_PC,
     "O:" USER USER_GROUP FROM_OTHER_PC, kUser, Verdict::kCallerOwns},
    {"the user's file written by an elevated run, now Administrators'", "O:" USER USER_GROUP PROFILE,
     "O:BA" USER_GROUP PROFILE, kElevated, Verdict::kCallerOwns},
    {"an elevated run that set back the owner of an account from another PC", "O:" GONE GONE_GROUP FROM_OTHER_PC,
     "O:" GONE USER_GROUP FROM_OTHER_PC, kElevated, Verdict::kSame},
    {"a primary group from elsewhere", "O:" USER GONE_GROUP PROFILE, "O:" USER USER_GROUP PROFILE, kUser,
     Verdict::kSame},
    {"a FAT32 or exFAT card, which keeps no list", "D:NO_ACCESS_CONTROL", "D:NO_ACCESS_CONTROL", kUser,
     Verdict::kSame},
    {"a volume that answers no query", nullptr, nullptr, kUser, Verdict::kSame},
    {"inherited entries made explicit", "O:" USER PROFILE,
     "O:" USER "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" USER ")", kUser, Verdict::kSame},
    {"a template for children, which grants nothing on the file, gone", "O:" USER PROFILE "(A;OICIIO;FA;;;CO)",
     "O:" USER PROFILE, kUser, Verdict::kSame},
    {"two deny entries that changed places", "O:" USER "D:(D;;FW;;;" SIBLING ")(D;;FX;;;BU)(A;;FA;;;AU)",
     "O:" USER "D:(D;;FX;;;BU)(D;;FW;;;" SIBLING ")(A;;FA;;;AU)", kUser, Verdict::kSame},
    {"Wine: a 0600 file kept", "O:" WINE_USER WINE_GROUP WINE_0600, "O:" WINE_USER WINE_GROUP WINE_0600, kWine,
     Verdict::kSame},

    {"Everyone may now change what it could only read", "O:" USER "D:(A;;FA;;;" USER ")(A;;FR;;;WD)",
     "O:" USER "D:(A;;FA;;;" USER ")(A;;0x1301bf;;;WD)", kUser, Verdict::kAccessChanged},
    {"Users gained an entry", "O:" USER PROFILE, "O:" USER PROFILE "(A;;FR;;;BU)", kUser, Verdict::kAccessChanged},
    {"a deny entry lost, which guarded against a later allow", "O:" USER "D:(D;;0x116;;;" SIBLING ")(A;;FR;;;AU)",
     "O:" USER "D:(A;;FR;;;AU)", kUser, Verdict::kAccessChanged},
    {"an inherited deny entry lost", "O:" USER "D:AI(D;ID;FW;;;" SIBLING ")(A;ID;FA;;;AU)",
     "O:" USER "D:AI(A;ID;FA;;;AU)", kUser, Verdict::kAccessChanged},
    {"a deny entry moved behind the allow it overrode", "O:" USER "D:(D;;FW;;;" SIBLING ")(A;;FA;;;AU)",
     "O:" USER "D:(A;;FA;;;AU)(D;;FW;;;" SIBLING ")", kUser, Verdict::kAccessChanged},
    {"no list at all after a real one", "O:" USER PROFILE, "O:" USER "D:NO_ACCESS_CONTROL", kUser,
     Verdict::kAccessChanged},
    {"no list at all after an empty one", "O:" USER "D:", "O:" USER "D:NO_ACCESS_CONTROL", kUser,
     Verdict::kAccessChanged},
    {"the user's own entry lost", "O:" USER PROFILE, "O:" USER "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)", kUser,
     Verdict::kAccessChanged},
    {"generic rights for the file rights they stand for", "O:" USER "D:(A;;FA;;;" USER ")",
     "O:" USER "D:(A;;GA;;;" USER ")", kUser, Verdict::kAccessChanged},
    {"a conditional entry, which the model cannot judge", "O:" USER PROFILE "(XA;;FR;;;WD)",
     "O:" USER PROFILE "(XA;;FR;;;WD)", kUser, Verdict::kAccessChanged},
    {"an installer's file, the caller its owner, but Users gained rights", "O:BAG:SY" INSTALLED,
     "O:" USER USER_GROUP INSTALLED "(A;;FA;;;BU)", kUser, Verdict::kAccessChanged},
    {"the owner became a third account", "O:" USER PROFILE, "O:" SIBLING PROFILE, kUser, Verdict::kOwnerChanged},
    {"Administrators became the owner of a run that is not elevated", "O:" USER PROFILE, "O:BA" PROFILE, kUser,
     Verdict::kOwnerChanged},
    {"Wine: 0600 came out 0644", "O:" WINE_USER WINE_GROUP WINE_0600, "O:" WINE_USER WINE_GROUP WINE_0644, kWine,
     Verdict::kAccessChanged},
    {"Wine: 0666 came out 0644", "O:" WINE_USER WINE_GROUP WINE_0666, "O:" WINE_USER WINE_GROUP WINE_0644, kWine,
     Verdict::kAccessChanged},
    {"Wine: nobody's 0666 file came out root's", "O:AN" WINE_GROUP "D:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1301ff;;;WD)",
     "O:" WINE_USER WINE_GROUP WINE_0666, kWine, Verdict::kAccessChanged},
    {"Wine: the owner alone became the caller", "O:AN" WINE_GROUP WINE_0644, "O:" WINE_USER WINE_GROUP WINE_0644,
     kWine, Verdict::kOwnerChanged},
    {"the original's descriptor could not be read", nullptr, "D:NO_ACCESS_CONTROL", kUser, Verdict::kUnreadable},
    {"the result's could not be read, the original granting everything", "D:NO_ACCESS_CONTROL", nullptr, kUser,
     Verdict::kUnreadable},
};

std::optional<Descriptor> Read(const char* sddl) {
    if (sddl == nullptr) return std::nullopt;
    std::optional<Descriptor> descriptor = ParseSddl(sddl);
    EXPECT_TRUE(descriptor) << sddl;
    return descriptor;
}

TEST(AccessDecision, EachCaseGetsItsVerdict) {
    for (const Case& c : kCases) {
        const Verdict verdict = Decide(Read(c.original), Read(c.result), c.caller);
        EXPECT_EQ(verdict, c.verdict) << c.name;
        EXPECT_EQ(Accepted(verdict), c.verdict == Verdict::kSame || c.verdict == Verdict::kCallerOwns) << c.name;
    }
}

// The cases stand on the reader: it must read what they write, and refuse
// anything mistyped rather than read it as something else.
TEST(AccessDecision, TheDescriptorStringsReadAsWindowsWritesThem) {
    const Descriptor expected{"S-1-5-32-544",
                              "S-1-5-21-1-2-3-513",
                              true,
                              {{AceKind::kDeny, 0x03, 0x120116, "S-1-5-32-545"},
                               {AceKind::kAllow, 0x10, 0x1200a9, "S-1-1-0"},
                               {AceKind::kOther, 0x08, 0xA0000000, "S-1-5-21-1-2-3-1001"}}};
    EXPECT_EQ(ParseSddl("O:BAG:S-1-5-21-1-2-3-513D:PAI(D;OICI;FW;;;BU)(A;ID;0x1200a9;;;WD)"
                        "(XA;IO;GRGX;;;S-1-5-21-1-2-3-1001)"),
              expected);
    for (const char* wrong : {"O:XX", "O:BAD:(A;;FQ;;;WD)", "D:(A;;FA;;;WD", "D:(A;;FA;;;WD)x", "D:(A;;FA;;WD)",
                              "D:NO_ACCESS_CONTROL(A;;FA;;;WD)", "D:(A;;FA;;;S-1-5-18x)", "D:(A;ZZ;FA;;;WD)",
                              "D:(Q;;FA;;;WD)", "D:(A;;0x;;;WD)", "S:(AU;;FA;;;WD)"})
        EXPECT_FALSE(ParseSddl(wrong)) << wrong;
}

}  // namespace
}  // namespace kes::access
