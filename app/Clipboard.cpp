#include "Clipboard.h"

#include <cstring>

namespace {

// The clipboard, open for as long as this lives.
class CClipboard {
public:
    explicit CClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    CClipboard(const CClipboard&) = delete;
    CClipboard& operator=(const CClipboard&) = delete;
    ~CClipboard() {
        if (open_) CloseClipboard();
    }
    bool IsOpen() const { return open_; }

private:
    bool open_;
};

// Hands a NUL-ended copy of the bytes to the clipboard, which then owns it;
// the memory is freed here only when the clipboard does not take it.
bool Put(UINT format, const void* bytes, size_t size, size_t nul) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size + nul);
    if (memory == nullptr) return false;
    void* p = GlobalLock(memory);
    std::memcpy(p, bytes, size);
    std::memset(static_cast<char*>(p) + size, 0, nul);
    GlobalUnlock(memory);
    if (SetClipboardData(format, memory) != nullptr) return true;
    GlobalFree(memory);
    return false;
}

}  // namespace

bool CopyText(HWND owner, const std::wstring& text) {
    CClipboard clipboard(owner);
    if (!clipboard.IsOpen() || !EmptyClipboard()) return false;
    // UTF-16 keeps every character; the system offers the code page's form
    // to programs that ask for CF_TEXT.
    return Put(CF_UNICODETEXT, text.data(), text.size() * sizeof(wchar_t), sizeof(wchar_t));
}
