// Fixed texts that the program holds in code rather than in its message
// table. The source is UTF-8; the compiler stores these as Shift_JIS.
#ifndef KESTRANE_KES_BAT_TEXTS_H
#define KESTRANE_KES_BAT_TEXTS_H

#include "kes_version.h"

// The window's title is the product's name, as the version block gives it.
#define KES_APP_TITLE KES_PRODUCT_NAME

// The version line is built from the release's number and date, so that it
// always names the release that the version blocks name.
#define KES_ABOUT_TEXT          \
    "Kestrane\n"                \
    "超簡易バッチ処理ツール\n"  \
    "\n"                        \
    "Version " KES_VERSION " (" KES_RELEASE_DATE ")\n" \
    "\n"                        \
    "Author: Kestrane Project\n" \
    "URL   : http://www.kestrane.example/\n" \
    "e-mail: support@kestrane.example"

#define KES_ERROR_PREFIX "Error : "

// The one item of the log's context menu.
#define KES_COPY_LOG "コピー"

// The open-file dialog for loading comment text. The filter's choices are
// separated by NULs, as the dialog wants them; spelled out here because a
// Shift_JIS second byte may be 0x7C ('|'), which rules out splitting on '|'.
#define KES_OPEN_TITLE "テキストファイルの読み込み"
#define KES_OPEN_FILTER "テキストファイル (*.txt)\0*.txt\0すべてのファイル (*.*)\0*.*\0"

#define KES_CANNOT_READ_TEXT "テキストファイルを読み込めません: "
#define KES_TEXT_TOO_LONG "テキストが長すぎてコメント欄に入りません: "

#endif
