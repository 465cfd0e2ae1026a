// Crash recovery over a small model of a folder with the record's three
// names: a rewrite, a put-back or an undo is replayed step by step, cut off
// after every step, recovered (and recovered again after a crash of the
// recovery itself), and the folder checked.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Recovery.h"

namespace kes::engine {

void PrintTo(Holds holds, std::ostream* out) {
    *out << (holds == Holds::kBefore ? "before" : holds == Holds::kAfter ? "after" : "neither");
}

namespace {

enum Name { kTarget, kTemporary, kBackup };
const char* const kNames[] = {"target", "temporary file", "backup"};
const std::string kOriginalAccess = "the original's";

struct File {
    std::string bytes;
    std::string access;  // owner and access list, as one label
};

struct Folder {
    std::array<std::optional<File>, 3> at;
    std::string before, after;  // as the record has them

    Found Find(Name name) const {
        if (!at[name])
            return Found::kMissing;
        return at[name]->bytes == before ? Found::kBefore : at[name]->bytes == after ? Found::kAfter : Found::kOther;
    }
    Findings FindAll() const {
        const Name keeper = at[kTarget] && Find(kTarget) != Found::kOther ? kTarget : kTemporary;
        const bool differs = at[kBackup] && at[keeper] && at[keeper]->access != at[kBackup]->access;
        return {Find(kTarget), Find(kTemporary), Find(kBackup), differs};
    }

    // A rename replaces the target only when asked to, and fails otherwise.
    bool Move(Name from, Name to, bool replace) {
        if (!at[from] || at[to].has_value() != replace) {
            ADD_FAILURE() << "cannot move the " << kNames[from] << " to the " << kNames[to];
            return false;
        }
        at[to] = at[from];
        at[from].reset();
        return true;
    }
    bool Delete(Name name) {
        const bool version = Find(name) == Found::kBefore || Find(name) == Found::kAfter;
        if (!at[name] || name == kTarget || (version && !at[kTarget])) {
            ADD_FAILURE() << "deletes the " << (at[name] ? "" : "missing ") << kNames[name]
                          << (version ? ", a version, with the target missing" : "");
            return false;
        }
        at[name].reset();
        return true;
    }
};

using Op = std::function<bool(Folder&)>;

// ReplaceFileW's outcomes, as far as contents go. Windows first gives the
// temporary file the target's streams and attributes, which changes no
// contents; then, like Wine, it renames the target to the backup and the
// temporary file to the target.
enum class Replace {
    kDone,
    kNothingChanged,    // 1175, 1176: the tool deletes its temporary file
    kTargetMovedAside,  // 1177: the tool moves the backup back, and deletes the temporary file
};
const char* const kReplaces[] = {"replaced", "replace failed", "replace failed with the target moved aside"};

// The steps of writing `written` over the target; where the result lost
// the target's access, the tool puts the backup back over it.
std::vector<Op> Steps(Replace replace, bool accessKept, const std::string& written) {
    const auto move = [](Name from, Name to, bool replace) -> Op {
        return [=](Folder& folder) { return folder.Move(from, to, replace); };
    };
    const auto remove = [](Name name) -> Op { return [=](Folder& folder) { return folder.Delete(name); }; };
    std::vector<Op> ops{[accessKept](Folder& folder) {
        folder.at[kTemporary] = File{"", accessKept ? folder.at[kTarget]->access : "the tool's"};
        return true;
    }};
    for (char byte : written)
        ops.push_back([byte](Folder& folder) { return folder.at[kTemporary]->bytes += byte, true; });
    switch (replace) {
    case Replace::kDone:
        ops.insert(ops.end(), {move(kTarget, kBackup, false), move(kTemporary, kTarget, false),
                               accessKept ? remove(kBackup) : move(kBackup, kTarget, true)});
        break;
    case Replace::kNothingChanged:
        ops.push_back(remove(kTemporary));
        break;
    case Replace::kTargetMovedAside:
        ops.insert(ops.end(), {move(kTarget, kBackup, false), move(kBackup, kTarget, false), remove(kTemporary)});
        break;
    }
    return ops;
}

bool Apply(Folder& folder, const std::vector<RecoveryStep>& steps, size_t count) {
    bool done = true;
    for (size_t i = 0; i < count && done; ++i) {
        switch (steps[i]) {
        case RecoveryStep::kTemporaryToTarget:
            done = folder.Move(kTemporary, kTarget, false);
            break;
        case RecoveryStep::kBackupToTarget:
            done = folder.Move(kBackup, kTarget, false);
            break;
        case RecoveryStep::kBackupOverTarget:
            done = folder.Move(kBackup, kTarget, true);
            break;
        case RecoveryStep::kDeleteTemporary:
            done = folder.Delete(kTemporary);
            break;
        case RecoveryStep::kDeleteBackup:
            done = folder.Delete(kBackup);
            break;
        }
    }
    return done;
}

// Recovers the folder a crash left, also when a second crash cuts the
// recovery short after any of its steps.
void ExpectRecovered(const Folder& crashed, const std::string& expected) {
    const RecoveryPlan plan = PlanRecovery(crashed.FindAll());
    EXPECT_EQ(plan.target, expected == crashed.after ? Holds::kAfter : Holds::kBefore);
    EXPECT_FALSE(plan.foreignBackupLeft);
    for (size_t cut = 0; cut <= plan.steps.size(); ++cut) {
        SCOPED_TRACE("recovery cut after step " + std::to_string(cut));
        Folder folder = crashed;
        ASSERT_TRUE(Apply(folder, plan.steps, cut));
        const RecoveryPlan again = PlanRecovery(folder.FindAll());
        ASSERT_TRUE(Apply(folder, again.steps, again.steps.size()));
        EXPECT_EQ(again.target, plan.target);
        EXPECT_TRUE(cut < plan.steps.size() || again.steps.empty()) << "a finished recovery has more to do";
        EXPECT_FALSE(folder.at[kTemporary] || folder.at[kBackup]) << "a file of the tool's own remains";
        ASSERT_TRUE(folder.at[kTarget]);
        EXPECT_EQ(folder.at[kTarget]->bytes, expected);
        EXPECT_EQ(folder.at[kTarget]->access, kOriginalAccess);
    }
}

TEST(Recovery, EveryCrashPointEndsInOneWholeVersionWithTheOriginalAccess) {
    const std::pair<std::string, std::string> contents[] = {
        {"old comment", "new comment!"},
        {"abc", "abc+comment"},  // a temporary file cut short holds the before contents
        {"", "comment"},         // and so does an empty one
    };
    // An undo, or the put-back of a file that failed its check, runs the
    // same steps with the versions swapped.
    for (const auto& [old, now] : contents)
        for (bool undo : {false, true})
            for (Replace replace : {Replace::kDone, Replace::kNothingChanged, Replace::kTargetMovedAside})
                for (bool accessKept : {true, false}) {
                    const std::string& before = undo ? now : old;
                    const std::string& after = undo ? old : now;
                    const std::vector<Op> ops = Steps(replace, accessKept, after);
                    for (size_t crash = 0; crash <= ops.size(); ++crash) {
                        SCOPED_TRACE("'" + before + "' to '" + after + "', " +
                                     kReplaces[static_cast<int>(replace)] + (accessKept ? "" : ", access lost") +
                                     ", crash after step " + std::to_string(crash));
                        Folder folder{{File{before, kOriginalAccess}, std::nullopt, std::nullopt}, before, after};
                        for (size_t i = 0; i < crash; ++i)
                            ASSERT_TRUE(ops[i](folder));
                        // A replace that had begun and was not taken back is
                        // finished, unless its result lost the access.
                        const bool begun = !folder.at[kTarget] || folder.at[kTarget]->bytes != before;
                        ExpectRecovered(folder, begun && accessKept ? after : before);
                    }
                }
}

std::string Text(const std::vector<RecoveryStep>& steps) {
    static const char* const kSteps[] = {"P to T", "B to T", "B over T", "delete P", "delete B"};
    std::string text;
    for (RecoveryStep step : steps)
        text += (text.empty() ? "" : ", ") + std::string(kSteps[static_cast<int>(step)]);
    return text;
}

TEST(Recovery, WhatTheUserDidAfterTheCrashStaysAndForeignFilesAreLeft) {
    constexpr Found kMissing = Found::kMissing, kBefore = Found::kBefore, kAfter = Found::kAfter,
                    kOther = Found::kOther;
    const struct {
        const char* name;
        Findings found;
        const char* steps;
        Holds target;
        bool foreignBackupLeft;
    } cases[] = {
        {"file deleted by the user before the temporary file was whole", {kMissing, kOther, kMissing}, "delete P",
         Holds::kNeither, false},
        {"file deleted by the user once the temporary file was whole", {kMissing, kAfter, kMissing}, "P to T",
         Holds::kAfter, false},
        {"file deleted by the user while its backup remained", {kMissing, kMissing, kBefore}, "B to T",
         Holds::kBefore, false},
        {"file changed by the user mid-replace", {kOther, kAfter, kBefore}, "delete P, delete B", Holds::kNeither,
         false},
        {"file changed by the user, its access too", {kOther, kMissing, kBefore, true}, "delete B", Holds::kNeither,
         false},
        {"foreign backup before the replace", {kBefore, kAfter, kOther}, "delete P", Holds::kBefore, true},
        {"foreign backup, file missing, temporary file whole", {kMissing, kAfter, kOther}, "P to T", Holds::kAfter,
         true},
        {"foreign backup, file missing, temporary file cut short", {kMissing, kOther, kOther}, "delete P",
         Holds::kNeither, true},
        {"foreign backup with other access, never put back", {kAfter, kMissing, kOther, true}, "", Holds::kAfter,
         true},
        {"empty temporary file beside the file", {kBefore, kOther, kMissing}, "delete P", Holds::kBefore, false},
        {"empty temporary file, file missing", {kMissing, kOther, kBefore}, "B to T, delete P", Holds::kBefore, false},
        {"nothing left at all", {kMissing, kMissing, kMissing}, "", Holds::kNeither, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RecoveryPlan plan = PlanRecovery(c.found);
        EXPECT_EQ(Text(plan.steps), c.steps);
        EXPECT_EQ(plan.target, c.target);
        EXPECT_EQ(plan.foreignBackupLeft, c.foreignBackupLeft);
    }
}

}  // namespace
}  // namespace kes::engine
