#include "FilePlan.h"

#include <cstdint>

#include "Vornic_dll.h"

void TPlanRelease::operator()(CpiPlan* plan) const {
    // A plan that outlived its module cannot be given back: the code that
    // would free it is gone, and another load, even of the same file,
    // would be handed memory it never gave out.
    if (slot->HasPlans() && slot->Generation() == generation) slot->CallReleasePlanW(*plan);
    delete plan;
}

int TFilePlan::Adopt(CVornicDLL& slot, std::unique_ptr<CpiPlan> answered, std::string_view contents,
                     TFilePlan& plan) {
    TFilePlan adopted;
    adopted.plan_ = std::unique_ptr<CpiPlan, TPlanRelease>(answered.release(), TPlanRelease{&slot, slot.Generation()});
    if (!adopted.Resolve(contents)) return CpiUnexpected;
    plan = std::move(adopted);
    return CpiWritten;
}

// A plan is the plug-in's word on a file the tool is about to replace:
// every piece must lie within memory it may be read from, and none may
// make the file larger than the interface can measure, or the tool would
// write bytes from elsewhere into the file.
bool TFilePlan::Resolve(std::string_view contents) {
    const CpiPlan& plan = *plan_;
    if (plan.pieceCount != 0 && plan.pieces == nullptr) return false;
    uint64_t total = 0;
    for (DWORD i = 0; i < plan.pieceCount; ++i) {
        const CpiPiece& piece = plan.pieces[i];
        std::string_view bytes;
        if (piece.bytes == nullptr) {
            if (piece.offset > contents.size() || piece.size > contents.size() - piece.offset) return false;
            bytes = contents.substr(piece.offset, piece.size);
        } else {
            if (piece.size > UINTPTR_MAX - reinterpret_cast<uintptr_t>(piece.bytes)) return false;
            bytes = std::string_view(static_cast<const char*>(piece.bytes), piece.size);
        }
        total += piece.size;
        if (total > MAXDWORD) return false;
        if (!bytes.empty()) pieces_.push_back(bytes);
    }
    size_ = static_cast<size_t>(total);
    unchanged_ = size_ == contents.size();
    size_t at = 0;
    for (auto piece = pieces_.begin(); unchanged_ && piece != pieces_.end(); ++piece) {
        // A kept range in its old place is the same bytes without a look.
        unchanged_ = piece->data() == contents.data() + at || contents.compare(at, piece->size(), *piece) == 0;
        at += piece->size();
    }
    return true;
}
