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

// The names Win32 takes for a device in any folder, whatever follows a dot:
// "aux.txt" and "c:\music\nul.mp3" open no file at all. COM0, LPT0 and the
// superscript digits are devices on some versions of Windows only; a name
// taken for one too many only goes the safe way.
bool NamesDevice(std::wstring_view name) {
    std::wstring_view stem = name.substr(0, std::min(name.find(L'.'), name.size()));
    while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
    std::wstring upper(stem);
    for (wchar_t& c : upper) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" || upper == L"NUL" || upper == L"CONIN$" ||
        upper == L"CONOUT$")
        return true;
    const bool numbered = upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0);
    const wchar_t digit = numbered ? upper[3] : 0;
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3';
}

// Win32 strips a trailing dot or blank from a name, so "song." would open
// "song", and takes a device's name for the device. Wildcards are left
// alone: "*." is a pattern, not a name.
bool HoldsNameWin32Changes(std::wstring_view text) {
    bool changes = false;
    ForEachName(text, [&](std::wstring_view name) {
        if (name.empty() || name == L"." || name == L".." || name.find_first_of(L"*?") != std::wstring_view::npos)
            return;
        if (!TFilePath::KeptByWin32(name)) changes = true;
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
std::wstring MadeAbsolute(const std::wstring& text) {
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

bool TFilePath::KeptByWin32(std::wstring_view name) {
    return name.empty() || (name.back() != L'.' && name.back() != L' ' && !NamesDevice(name)) || name == L"." ||
           name == L"..";
}

bool TFilePath::KeptByWin32() const { return !HoldsNameWin32Changes(text_); }

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
    return Verbatim(MadeAbsolute(text_));
}

TFilePath TFilePath::Absolute() const {
    if (text_.compare(0, 4, L"\\\\.\\") == 0) return *this;
    std::wstring full = text_.compare(0, kVerbatim.size(), kVerbatim) == 0 ? text_ : Verbatim(MadeAbsolute(text_));
    if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) return TFilePath(L"\\" + full.substr(7));
    return TFilePath(full.substr(kVerbatim.size()));
}

bool TFilePath::ToAnsi(std::string& ansi) const {
    // The plain form is all such a plug-in can take, and it must lead to
    // this very file: not to "album" for "album.", nor to a device.
    return !HoldsNameWin32Changes(text_) && ExactName(text_.c_str(), ansi) && ansi.size() < MAX_PATH;
}
