// The exports every bundled plug-in shares; what differs between them comes
// from kPluginFormat.
#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

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

// The one write behind both exports. `lacking` answers a comment without
// the form the format stores: from WriteCommentW, a character the format
// cannot hold; from WriteComment, bytes that are no Shift_JIS text.
WriteResult Write(const TFilePath& path, std::string_view contents, const Comment& comment, WriteResult lacking) {
    // Looked at before anything else: a read-only file is refused even when
    // it would not change, and the file as found now is what another
    // program's save would change before the replace.
    WIN32_FILE_ATTRIBUTE_DATA seen;
    const WriteResult target = CheckTarget(path, contents.size(), seen);
    if (target != kWritten) return target;

    const CommentAccess& access = kPluginFormat.comment;
    if (!comment.In(access.form)) return lacking;
    const Rewrite rewritten = access.set(contents, comment);
    if (!rewritten) return rewritten.Why() == Refusal::kCommentTooLong ? kCommentTooLong : kRefused;
    if (rewritten->Equals(contents)) return kWritten;  // already carries this comment
    return ReplaceContents(
        path, seen, [&](const auto& put) { return rewritten->ForEach(put); },
        KeepModifiedTime() ? &seen.ftLastWriteTime : nullptr);
}

// The one read behind ReadCommentW: the comment a write would replace, in
// the form the tool hands to a write (none for an empty one), or the
// result with which a write would refuse the file now. It writes nothing.
WriteResult Read(const TFilePath& path, std::string_view contents, std::optional<std::wstring>& comment) {
    WIN32_FILE_ATTRIBUTE_DATA seen;
    const WriteResult target = CheckTarget(path, contents.size(), seen);
    if (target != kWritten) return target;
    const std::optional<Comment> stored = kPluginFormat.comment.read(contents);
    if (!stored) return kRefused;
    const WriteResult name = CheckSoleName(path);
    if (name != kWritten) return name;
    std::wstring text = CommentToUtf16(*stored);
    if (!text.empty()) comment = std::move(text);
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
    return kes::Guarded(
        [&] {
            std::optional<std::wstring> found;
            const kes::WriteResult result = kes::Read(TFilePath(path), kes::Bytes(contents, size), found);
            if (result == kes::kWritten) kes::Answer(found, comment, *length);
            return static_cast<int>(result);
        },
        kes::kUnexpected, kes::kNoMemory);
}

}  // extern "C"
