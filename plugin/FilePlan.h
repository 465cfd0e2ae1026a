// One file's new contents as a planning plug-in answered them: its pieces,
// checked against the contents they were made from, and the plug-in's own
// memory behind them, given back to the plug-in exactly once when the plan
// goes.
#ifndef KESTRANE_FILE_PLAN_H
#define KESTRANE_FILE_PLAN_H

#include <memory>
#include <string_view>
#include <vector>

#include "cpi.h"

class CVornicDLL;

// Gives a plan back through the slot, to the load of the module that made
// it.
struct TPlanRelease {
    CVornicDLL* slot = nullptr;
    unsigned generation = 0;
    void operator()(CpiPlan* plan) const;
};

class TFilePlan {
public:
    TFilePlan() = default;
    TFilePlan(TFilePlan&&) = default;
    TFilePlan& operator=(TFilePlan&&) = default;  // gives back the plan it held

    // The new contents, in order, none empty. A kept range is a view of
    // the contents the plan was made from, which the caller keeps alive
    // and unchanged while it uses the plan; new bytes live as long as the
    // plan.
    const std::vector<std::string_view>& Pieces() const { return pieces_; }
    size_t Size() const { return size_; }
    // The pieces spell the contents as they were: nothing to write.
    bool Unchanged() const { return unchanged_; }
    // The new file keeps the old one's modification time.
    bool KeepTime() const { return plan_ && (plan_->flags & CpiPlanKeepTime) != 0; }

    // Takes over `answered`, which the plug-in in `slot` filled in for
    // `contents` and answered with CpiWritten: CpiWritten when its pieces
    // describe new contents, and `plan` then holds it; else CpiUnexpected,
    // and the plan has been given back.
    static int Adopt(CVornicDLL& slot, std::unique_ptr<CpiPlan> answered, std::string_view contents, TFilePlan& plan);

private:
    bool Resolve(std::string_view contents);

    std::unique_ptr<CpiPlan, TPlanRelease> plan_;
    std::vector<std::string_view> pieces_;
    size_t size_ = 0;
    bool unchanged_ = false;
};

#endif
