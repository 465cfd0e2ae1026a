#include "Mbox_res.h"

#include "Application.h"

std::string LoadResString(int id) {
    char buffer[1024];
    const int copied = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer,
                                   sizeof buffer);
    return std::string(buffer, copied > 0 ? copied : 0);
}

int MsgBoxRes(int textId, int captionId, UINT flags) {
    const std::string caption = LoadResString(captionId);
    const std::string text = LoadResString(textId);
    return Application.ShowMessage(text.c_str(), caption.c_str(), flags);
}

int MsgBoxText(const char* text, int captionId, UINT flags) {
    const std::string caption = LoadResString(captionId);
    return Application.ShowMessage(text, caption.c_str(), flags);
}

std::wstring FillIn(std::wstring text, std::initializer_list<std::wstring> values) {
    wchar_t mark[] = L"%1";
    for (const std::wstring& value : values) {
        const size_t at = text.find(mark);
        if (at != std::wstring::npos) text.replace(at, 2, value);
        ++mark[1];
    }
    return text;
}
