#include "FilePath.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "PathText.h"

namespace {

// What Win32 takes without the \\?\ form: MAX_PATH with its NUL.
constexpr size_t kPlainLength = MAX_PATH - 1;
const std::wstring kVerbatim = L"\\\\?\\";

bool IsDelimiter(wchar_t c) { return c == L'\\' || c == L'/'; }

// Calls f with each name between delimiters.
template <class F>
void ForEachName(std::wstring_view text, F f) {
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || IsDelimiter(text[i])) {
            f(text.substr(start, i - start));
            start = i + 1;
        }
    }
}

// Win32 strips a trailing dot or blank from a name, so "song." would open
// "song". Wildcards are left alone: "*." is a pattern, not a name.
bool HoldsNameWin32Changes(std::wstring_view text) {
    bool changes = false;
    ForEachName(text, [&](std::wstring_view name) {
        if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"*?") != std::wstring_view::npos)
            return;
        if (name.back() == L'.' || name.back() == L' ') changes = true;
    });
    return changes;
}

std::wstring FullPathOf(const wchar_t* base) {
    const DWORD n = GetFullPathNameW(base, 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(n, L'\0');
    full.resize(GetFullPathNameW(base, n, full.data(), nullptr));
    return full;
}

// The path made absolute. Only the base it is relative to (the current
// folder, or a drive's) goes through GetFullPathNameW: the names found by
// a search must reach the file system as they are.
std::wstring Absolute(const std::wstring& text) {
    const bool unc = text.size() >= 2 && IsDelimiter(text[0]) && IsDelimiter(text[1]);
    const bool driveRooted = text.size() >= 3 && text[1] == L':' && IsDelimiter(text[2]);
    if (unc || driveRooted) return text;
    std::wstring base;
    size_t rest = 0;
    if (text.size() >= 2 && text[1] == L':') {
        base = FullPathOf(text.substr(0, 2).c_str());  // that drive's current folder
        rest = 2;
    } else if (!text.empty() && IsDelimiter(text[0])) {
        base = FullPathOf(L"\\");  // the current drive's root
        rest = 1;
    } else {
        base = FullPathOf(L".");
    }
    if (!base.empty() && !IsDelimiter(base.back())) base += L'\\';
    return base + text.substr(rest);
}

// An absolute path with "/" as "\", doubled delimiters, "." and ".." resolved,
// and its root in the \\?\ form: "C:\…" as "\\?\C:\…", "\\srv\share\…" as
// "\\?\UNC\srv\share\…".
std::wstring Verbatim(const std::wstring& absolute) {
    std::wstring root;
    std::wstring_view rest(absolute);
    if (absolute.size() >= 2 && IsDelimiter(absolute[0]) && IsDelimiter(absolute[1])) {
        root = kVerbatim + L"UNC";
        rest.remove_prefix(2);
        // The server and share are the root: ".." never climbs above them.
        for (int part = 0; part < 2; ++part) {
            const size_t end = std::min(rest.find_first_of(L"\\/"), rest.size());
            root += L'\\';
            root += rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
    } else {
        root = kVerbatim + absolute.substr(0, 2);
        rest.remove_prefix(std::min<size_t>(3, rest.size()));
    }
    std::vector<std::wstring_view> names;
    ForEachName(rest, [&](std::wstring_view name) {
        if (name.empty() || name == L".") return;
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
            return;
        }
        names.push_back(name);
    });
    std::wstring out = root;
    for (std::wstring_view name : names) {
        out += L'\\';
        out += name;
    }
    if (names.empty() || IsDelimiter(absolute.back())) out += L'\\';
    return out;
}

}  // namespace

TFilePath TFilePath::FromAnsi(const std::string& text) { return TFilePath(WidePath(text)); }

TFilePath TFilePath::WithTrailingDelimiter() const {
    return EndsWithDelimiter() ? *this : TFilePath(text_ + L'\\');
}

TFilePath TFilePath::Folder() const {
    const size_t last = text_.find_last_of(L"\\:");
    return TFilePath(last == std::wstring::npos ? std::wstring() : text_.substr(0, last + 1));
}

std::wstring TFilePath::Name() const { return text_.substr(Folder().text_.size()); }

TFilePath TFilePath::Child(std::wstring_view name) const {
    // Exactly as long as it needs: a run queues one for every file found,
    // and a string grown by appending may hold twice its length.
    std::wstring joined;
    joined.reserve(text_.size() + name.size());
    joined += text_;
    joined += name;
    return TFilePath(std::move(joined));
}

std::wstring TFilePath::Win32() const {
    if (text_.compare(0, kVerbatim.size(), kVerbatim) == 0 || text_.compare(0, 4, L"\\\\.\\") == 0)
        return text_;
    if (text_.size() <= kPlainLength && !HoldsNameWin32Changes(text_)) return text_;
    return Verbatim(Absolute(text_));
}

bool TFilePath::ToAnsi(std::string& ansi) const {
    return ExactName(text_.c_str(), ansi) && ansi.size() < MAX_PATH;
}
