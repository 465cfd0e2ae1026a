// The preview window: one row for every entry a run would take, in run
// order, with the file's current comment and what the run would do with it.
// The window only shows; the search and the reading that fill it are the
// main window's (Menu_PreviewClick in kes_bat_preview.cpp).
#ifndef KESTRANE_KES_BAT_PREVIEW_H
#define KESTRANE_KES_BAT_PREVIEW_H

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "kes_bat_form.h"
#include <string>
#include <vector>

struct TPreviewRow {
    std::wstring Path;
    std::wstring Comment;  // on one line, as much as the list shows
    std::wstring Action;   // what a run would do
};

class TKesBatPreview {
public:
    HWND Handle = nullptr;

    TKesBatPreview() = default;
    TKesBatPreview(const TKesBatPreview&) = delete;
    TKesBatPreview& operator=(const TKesBatPreview&) = delete;
    ~TKesBatPreview();

    // Shows the window empty, in front of `owner` and in its fonts; made on
    // the first call, over the owner's middle.
    void Open(HWND owner);
    // False once the user has closed the window, which stops its reading.
    bool IsOpen() const { return Handle != nullptr && IsWindowVisible(Handle); }
    HWND Control(int id) const { return GetDlgItem(Handle, id); }

    void SetStatus(const std::wstring& text);
    // The number of entries to come: the bar's range and the counter's total.
    void SetTotal(int total);
    // Rows are added unseen; ShowProgress brings the counter and the bar up
    // to them, and the list too unless told to leave it.
    void AddRow(TPreviewRow row) { rows_.push_back(std::move(row)); }
    void ShowProgress(bool list = true);

private:
    void Create(HWND owner);
    bool FormCreate();
    void FormResize();
    void FormGetMinMaxInfo(MINMAXINFO& info);
    void FormClose();
    void ListView_GetDispInfo(NMLVDISPINFOW& info);
    int Scale(int pixels) const;
    void SetCount(int done);

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    std::vector<TPreviewRow> rows_;
    int total_ = 0;
    // The main window's, which owns them.
    std::unique_ptr<TWindowFonts> fonts_;
};

#endif
