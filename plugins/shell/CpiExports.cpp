// The exports every bundled plug-in shares; what differs between them comes
// from kPluginFormat.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "CpiShell.h"
#include "Dialogs.h"
#include "SafeReplace.h"
#include "Settings.h"
#include "cpi.h"
#include "kes_version.h"

namespace kes {

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

const std::string& VersionText() {
    static const std::string text = std::string(kPluginFormat.name) + " " KES_VERSION;
    return text;
}

const CommentAccess& CurrentAccess() {
    const CommentChoice* choice = kPluginFormat.choice;
    return choice ? choice->options[CommentOption()].comment : kPluginFormat.comment;
}

namespace {

const char* InfoText(int info) {
    switch (info) {
        case InfoTag: return CPI_TAG;
        case InfoVersion: return VersionText().c_str();
        case InfoPatterns: return kPluginFormat.patterns;
        case InfoDescription: return kPluginFormat.description;
    }
    return nullptr;
}

// What a write of `comment` makes of `contents`: kWritten with the new
// contents in `rewritten`, or why the file or the comment is refused. The
// writes and the plan all take it from here, so that a plan spells the
// very bytes a write would leave. `lacking` answers a comment without the
// form the format stores: from WriteCommentW and the plan, a character the
// format cannot hold; from WriteComment, bytes that are no Shift_JIS text.
WriteResult NewContents(std::string_view contents, const Comment& comment, WriteResult lacking, Rewrite& rewritten) {
    const CommentAccess& access = CurrentAccess();
    if (!comment.In(access.form)) return lacking;
    rewritten = access.set(contents, comment);
    if (!rewritten) return rewritten.Why() == Refusal::kCommentTooLong ? kCommentTooLong : kRefused;
    return kWritten;
}

// The one write behind both write exports.
WriteResult Write(const TFilePath& path, std::string_view contents, const Comment& comment, WriteResult lacking) {
    // Looked at before anything else: a read-only file is refused even when
    // it would not change, and the file as found now is what another
    // program's save would change before the replace.
    WIN32_FILE_ATTRIBUTE_DATA seen;
    const WriteResult target = CheckTarget(path, contents.size(), seen);
    if (target != kWritten) return target;

    Rewrite rewritten = std::nullopt;
    const WriteResult made = NewContents(contents, comment, lacking, rewritten);
    if (made != kWritten) return made;
    if (rewritten->Equals(contents)) return kWritten;  // already carries this comment
    return ReplaceContents(
        path, seen, [&](const auto& put) { return rewritten->ForEach(put); },
        KeepModifiedTime() ? &seen.ftLastWriteTime : nullptr);
}

// What a plan holds for the tool until it is given back: the core's
// pieces, into whose new bytes the CpiPieces point, and those CpiPieces.
struct PlanStore {
    Rewrite rewritten = std::nullopt;
    std::vector<CpiPiece> pieces;
};

// A kept range lies inside the contents handed over and goes back to the
// tool as an offset into them; any other bytes are new ones, which stay in
// the plan's store.
CpiPiece PieceOf(std::string_view contents, std::string_view bytes) {
    const std::less_equal<const char*> notAfter;
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (notAfter(contents.data(), bytes.data()) &&
        notAfter(bytes.data() + bytes.size(), contents.data() + contents.size()))
        return {nullptr, static_cast<DWORD>(bytes.data() - contents.data()), size};
    return {bytes.data(), 0, size};
}

// The plan behind PlanCommentW: the write's new contents without the
// write, and without a look at the file, which the tool checks itself.
WriteResult Plan(std::string_view contents, const Comment& comment, CpiPlan& plan) {
    auto store = std::make_unique<PlanStore>();
    const WriteResult made = NewContents(contents, comment, kCommentNotHeld, store->rewritten);
    if (made != kWritten) return made;
    // A file that already carries the comment is one piece of itself, so
    // that the tool sees at a glance that nothing is to be written.
    if (!store->rewritten->Equals(contents)) {
        store->rewritten->ForEach([&](std::string_view bytes) {
            store->pieces.push_back(PieceOf(contents, bytes));
            return true;
        });
    } else if (!contents.empty()) {
        store->pieces.push_back({nullptr, 0, static_cast<DWORD>(contents.size())});
    }
    plan.flags = KeepModifiedTime() ? CpiPlanKeepTime : 0;
    plan.pieceCount = static_cast<DWORD>(store->pieces.size());
    plan.pieces = store->pieces.empty() ? nullptr : store->pieces.data();
    plan.owner = store.release();
    return kWritten;
}

// The comment that `contents` hold, in the form the tool hands to a write
// (none for an empty one), or kRefused when a write would refuse these
// bytes whatever the comment. It looks at no file.
WriteResult CommentIn(std::string_view contents, std::optional<std::wstring>& comment) {
    const std::optional<Comment> stored = CurrentAccess().read(contents);
    if (!stored) return kRefused;
    std::wstring text = CommentToUtf16(*stored);
    if (!text.empty()) comment = std::move(text);
    return kWritten;
}

// The one read behind ReadCommentW: the comment a write would replace, or
// the result with which a write would refuse the file now. It writes
// nothing.
WriteResult Read(const TFilePath& path, std::string_view contents, std::optional<std::wstring>& comment) {
    WIN32_FILE_ATTRIBUTE_DATA seen;
    const WriteResult target = CheckTarget(path, contents.size(), seen);
    if (target != kWritten) return target;
    std::optional<std::wstring> found;
    const WriteResult read = CommentIn(contents, found);
    if (read != kWritten) return read;
    const WriteResult name = CheckSoleName(path);
    if (name != kWritten) return name;
    comment = std::move(found);
    return kWritten;
}

// ReadCommentW's answer: the length, and the comment with a NUL where the
// buffer has room for both.
void Answer(const std::optional<std::wstring>& comment, LPWSTR buffer, DWORD& length) {
    if (!comment) {
        length = CPI_NO_COMMENT;
        return;
    }
    const DWORD room = length;
    length = static_cast<DWORD>(comment->size());
    if (room > comment->size()) {
        std::copy(comment->begin(), comment->end(), buffer);
        buffer[comment->size()] = L'\0';
    }
}

std::string_view Bytes(const void* contents, DWORD size) {
    return std::string_view(static_cast<const char*>(contents), size);
}

// Runs an export's work. No exception may leave an export: it would unwind
// into the caller's frames, which know nothing of it, and end the program.
template <class Work>
int Guarded(Work work, int failure, int noMemory) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return noMemory;
    } catch (...) {
        return failure;
    }
}

// A read export's work: `read` finds the comment or why not, and the
// comment goes into the tool's buffer.
template <class Reader>
int AnswerRead(Reader read, LPWSTR buffer, DWORD& length) noexcept {
    return Guarded(
        [&] {
            std::optional<std::wstring> found;
            const WriteResult result = read(found);
            if (result == kWritten) Answer(found, buffer, length);
            return static_cast<int>(result);
        },
        kUnexpected, kNoMemory);
}

}  // namespace
}  // namespace kes

extern "C" {

int WINAPI GetPluginInfo(int info, LPSTR buffer, int bufferSize) {
    return kes::Guarded(
        [&] {
            const char* text = kes::InfoText(info);
            if (!text || !buffer || bufferSize <= 0) return 0;
            const size_t length = std::min(std::strlen(text), static_cast<size_t>(bufferSize - 1));
            std::memcpy(buffer, text, length);
            buffer[length] = '\0';
            return static_cast<int>(length);
        },
        0, 0);
}

int WINAPI ConfigurationDlg(HWND window, int mode) {
    // A failed query must not list the plug-in; a failed dialog answers 1.
    const int failure = mode == ModeQuery ? 0 : 1;
    return kes::Guarded(
        [&] {
            switch (mode) {
                case ModeQuery: return CapAbout | CapSettings;
                case ModeAbout: return kes::ShowAbout(window);
                case ModeSettings: return kes::ShowSettings(window);
            }
            return 1;
        },
        failure, failure);
}

int WINAPI WriteComment(HWND, LPCSTR path, const void* contents, DWORD size, LPCSTR comment,
                        DWORD commentLength) {
    if (!path || (!contents && size != 0) || (!comment && commentLength != 0)) return kes::kRefused;
    return kes::Guarded(
        [&] {
            return static_cast<int>(kes::Write(TFilePath::FromAnsi(path), kes::Bytes(contents, size),
                                               kes::CommentFromCodePage(std::string_view(comment, commentLength)),
                                               kes::kRefused));
        },
        kes::kUnexpected, kes::kNoMemory);
}

int WINAPI WriteCommentW(HWND, LPCWSTR path, const void* contents, DWORD size, LPCWSTR comment,
                         DWORD commentLength) {
    if (!path || (!contents && size != 0) || (!comment && commentLength != 0)) return kes::kRefused;
    return kes::Guarded(
        [&] {
            return static_cast<int>(kes::Write(TFilePath(path), kes::Bytes(contents, size),
                                               kes::CommentFromUtf16(std::wstring_view(comment, commentLength)),
                                               kes::kCommentNotHeld));
        },
        kes::kUnexpected, kes::kNoMemory);
}

int WINAPI ReadCommentW(LPCWSTR path, const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    if (!path || !length || (!contents && size != 0) || (!comment && *length != 0)) return kes::kRefused;
    return kes::AnswerRead(
        [&](std::optional<std::wstring>& found) {
            return kes::Read(TFilePath(path), kes::Bytes(contents, size), found);
        },
        comment, *length);
}

int WINAPI PlanCommentW(LPCWSTR path, const void* contents, DWORD size, LPCWSTR comment, DWORD commentLength,
                        CpiPlan* plan) {
    if (!path || !plan || plan->size < sizeof(CpiPlan) || (!contents && size != 0) || (!comment && commentLength != 0))
        return kes::kRefused;
    return kes::Guarded(
        [&] {
            return static_cast<int>(kes::Plan(kes::Bytes(contents, size),
                                              kes::CommentFromUtf16(std::wstring_view(comment, commentLength)), *plan));
        },
        kes::kUnexpected, kes::kNoMemory);
}

void WINAPI ReleasePlanW(CpiPlan* plan) {
    if (!plan) return;
    delete static_cast<kes::PlanStore*>(plan->owner);
    // Given back twice, the plan then holds nothing to free again.
    plan->owner = nullptr;
    plan->pieces = nullptr;
    plan->pieceCount = 0;
}

int WINAPI ReadCommentBytesW(const void* contents, DWORD size, LPWSTR comment, DWORD* length) {
    if (!length || (!contents && size != 0) || (!comment && *length != 0)) return kes::kRefused;
    return kes::AnswerRead(
        [&](std::optional<std::wstring>& found) { return kes::CommentIn(kes::Bytes(contents, size), found); },
        comment, *length);
}

}  // extern "C"
