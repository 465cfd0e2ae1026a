#include "Clipboard.h"

#include <cstring>

#include "PathText.h"

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

bool CopyText(HWND owner, const std::string& text) {
    CClipboard clipboard(owner);
    if (!clipboard.IsOpen() || !EmptyClipboard()) return false;
    const std::wstring wide = WidePath(text);
    return Put(CF_TEXT, text.data(), text.size(), 1) &&
           Put(CF_UNICODETEXT, wide.data(), wide.size() * sizeof(wchar_t), sizeof(wchar_t));
}
