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
