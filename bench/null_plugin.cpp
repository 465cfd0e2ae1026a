// The benchmark's plug-in: it takes every *.dat file and writes nothing, so
// that a run costs only what the tool itself does per file. Built twice:
// kes_null.cpi has only the three original exports, so the tool hands it
// code page names, as it did every plug-in before; kes_null_w.cpi
// (NULL_UNICODE) also has WriteCommentW, which takes every name, and
// ReadCommentW, which the preview needs; kes_null_plan.cpi (NULL_PLANS too)
// also plans, and its plan says every file stays as it is, so that the tool
// reads, plans and checks each file and writes none.
#include <windows.h>

#include <cstring>

#include "cpi.h"

namespace {
int Copy(LPSTR buffer, int size, const char* text) {
    lstrcpynA(buffer, text, size);
    return 1;
}
}  // namespace

int WINAPI GetPluginInfo(int info, LPSTR buffer, int size) {
    switch (info) {
    case InfoTag: return Copy(buffer, size, "CPI1");
    case InfoVersion: return Copy(buffer, size, "benchmark null plug-in");
    case InfoPatterns: return Copy(buffer, size, "*.dat");
    case InfoDescription: return Copy(buffer, size, "bench files");
    }
    return 0;
}

int WINAPI ConfigurationDlg(HWND, int mode) { return mode == ModeQuery ? CapAbout : 0; }

int WINAPI WriteComment(HWND, LPCSTR, const void*, DWORD, LPCSTR, DWORD) { return 0; }

#ifdef NULL_UNICODE
int WINAPI WriteCommentW(HWND, LPCWSTR, const void*, DWORD, LPCWSTR, DWORD) { return CpiWritten; }

// "No comment", without looking at the contents: what a preview costs
// besides the plug-in's own parse.
int WINAPI ReadCommentW(LPCWSTR, const void*, DWORD, LPWSTR, DWORD* length) {
    *length = CPI_NO_COMMENT;
    return CpiWritten;
}
#endif

#ifdef NULL_PLANS
// The contents handed over, as one piece: no change. An empty file is
// spelled by no pieces at all.
int WINAPI PlanCommentW(LPCWSTR, const void*, DWORD size, LPCWSTR, DWORD, CpiPlan* plan) {
    CpiPiece* whole = new CpiPiece{nullptr, 0, size};
    plan->pieceCount = size != 0 ? 1 : 0;
    plan->pieces = whole;
    plan->owner = whole;
    return CpiWritten;
}

void WINAPI ReleasePlanW(CpiPlan* plan) { delete static_cast<CpiPiece*>(plan->owner); }

int WINAPI ReadCommentBytesW(const void*, DWORD, LPWSTR, DWORD* length) {
    *length = CPI_NO_COMMENT;
    return CpiWritten;
}
#endif
