#include "app/messages.h"

#include <climits>
#include <cstdarg>
#include <cstring>

#include "app/runstate.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/wide.h"

namespace {

// Column 0 is Japanese, column 1 English; every row has the same
// placeholders in both columns.
const WCHAR* const CATALOGUE[MSG_COUNT][2] = {
    // MSG_USAGE
    {WIDE("使い方:\n  dustpail [/nologo] [<ごみ箱のパス>] /f <ファイル名> [/Y]\n  dustpail [/nologo] [<ごみ箱のパス>] <ファイル番号> [/Y] [/delete | <復元先>]\n  dustpail [/nologo] [<ごみ箱のパス>] /view\n  dustpail [/nologo] [<ごみ箱のパス>] /empty [/Y]\n\n    <ごみ箱のパス>  ごみ箱のパスを指定します。省略した場合は、x:\\Recycled\n                    (x は現在のドライブ) を使用します。/f、復元ファイル番号、\n                    /view、/empty の前に指定する必要があります。\n    <ファイル名>    ごみ箱に移動するファイル/ディレクトリを指定します。\n                    /f の後に必ず指定する必要があります。\n    <ファイル番号>  /view で表示されるリスト内でのファイルの番号を指定します。\n    <復元先>        復元先のディレクトリ/ファイル名を指定します。ディレクトリを\n                    指定する場合は、末尾を \\ にしてください。\n    /nologo         著作権情報を表示しません。\n    /f              ファイルをごみ箱に移動します。\n    /delete         復元せずに削除します。復元ファイル番号の後に指定します。\n    /view           ごみ箱のファイルの一覧を表示します。\n    /empty          ごみ箱を空にします。\n    /Y              コマンド実行の際に確認のメッセージを表示しません。\n\n"),
     WIDE("Usage:\n  dustpail [/nologo] [<Recycle Path>] /f <file-name> [/Y]\n  dustpail [/nologo] [<Recycle Path>] <index> [/Y] [/delete | <Restore Path>]\n  dustpail [/nologo] [<Recycle Path>] /view\n  dustpail [/nologo] [<Recycle Path>] /empty [/Y]\n\n    <Recycle Path>  Specifies the Recyle Bin path. The default\n                    is x:\\Recycled (x is the current drive). You must\n                    specify it before /f, <index>, /view, and /empty.\n    <file-name>     Specifies the file/directory name to be moved to\n                    the Recycle Bin. You must specify it after /f.\n    <index>         Specifies the file index in the list shown by /view.\n    <Restore Path>  Specifies the file/directory of a restoration place.\n                    You need \\ at the end when specifying the directory.\n    /nologo         Suppresses displaying of the copyright.\n    /f              Moves the file to the Recycle Bin.\n    /delete         Deletes the file without restoring.\n                    You must specify it after <index>.\n    /view           Shows the list of removed files.\n    /empty          Empties the Recycle Bin.\n    /Y              Suppresses prompting to confirm.\n\n")},
    // MSG_BIN_PATH
    {WIDE("ごみ箱: %s\n"),
     WIDE("Recycle Bin: %s\n")},
    // MSG_FILE_COUNT
    {WIDE("ごみ箱のファイル数: %d\n"),
     WIDE("The number of files: %d\n")},
    // MSG_BIN_EMPTY
    {WIDE("ごみ箱は空です。\n"),
     WIDE("The Recycle Bin is empty.\n")},
    // MSG_LIST_HEADER
    {WIDE("番号, 元のファイル名, 削除日時, 属性 (<DIR> Archive System Hidden Readonly)\n"),
     WIDE("Index, File name, Timestamp, Attributes (<DIR> Archive System Hidden Readonly)\n")},
    // MSG_ASK_RESTORE
    {WIDE("この内容を復元しますか?"),
     WIDE("Would you like to restore it?")},
    // MSG_ASK_DELETE
    {WIDE("この内容を削除しますか?"),
     WIDE("Would you like to delete it?")},
    // MSG_ASK_EMPTY
    {WIDE("ごみ箱を空にしますか? (%d 個のデータが削除されます。)"),
     WIDE("Would you like to empty the Recycle Bin? (%d file(s) will be deleted.)")},
    // MSG_ASK_THROW
    {WIDE("これらのファイルをごみ箱に移動しますか?"),
     WIDE("Would you like to move these files to the Recycle Bin?")},
    // MSG_READING
    {WIDE("読み取り中: %s ...\n"),
     WIDE("Reading: %s ...\n")},
    // MSG_RESTORING
    {WIDE("'%s' を '%s' に復元中...\n"),
     WIDE("Restoring '%s' to '%s'...\n")},
    // MSG_DELETING_ONE
    {WIDE("'%s' を削除中...\n"),
     WIDE("Deleting '%s'...\n")},
    // MSG_DELETING
    {WIDE("削除中...\n"),
     WIDE("Deleting...\n")},
    // MSG_FINISHED
    {WIDE("終了しました。\n"),
     WIDE("Finished.\n")},
    // MSG_DOS_NAME
    {WIDE("ファイル名 '%s' は DOS では使用できません。新しい復元名を指定してください。\n"),
     WIDE("The file name '%s' can't use in DOS. Please input the new restoration name.\n")},
    // MSG_CHOOSE_BIN
    {WIDE("操作できるごみ箱が複数存在します。次の中から対象を選択してください。\n"),
     WIDE("Please choose the Recycle Bin from the following lists.\n")},
    // MSG_INPUT_INDEX
    {WIDE("番号で選択してください[%d-%d]:"),
     WIDE("Input the index number[%d-%d]:")},
    // MSG_RESTORE_OK
    {WIDE("復元は成功しました。\n"),
     WIDE("The restoration finished successfully.\n")},
    // MSG_DELETE_OK
    {WIDE("削除は成功しました。\n"),
     WIDE("The file has been deleted successfully.\n")},
    // MSG_THROW_OK
    {WIDE("ごみ箱への移動に成功しました。\n"),
     WIDE("The file has been moved to the Recycle Bin successfully.\n")},
    // MSG_CANCELED
    {WIDE("動作は取り消されました。\n"),
     WIDE("The execution was canceled.\n")},
    // MSG_ALREADY_EMPTY
    {WIDE("ごみ箱は既に空です。\n"),
     WIDE("The Recycle Bin is already empty.\n")},
    // MSG_EMPTIED
    {WIDE("ごみ箱を空にしました。\n"),
     WIDE("The Recycle Bin has emptied.\n")},
    // MSG_WARN_MOVED_NOT_UNREGISTERED
    {WIDE("警告: データの移動は成功しましたが、ごみ箱登録データを削除できませんでした。\n"),
     WIDE("Warning: The file was moved successfully, but registration data of the file in the Recycle Bin was not deleted.\n")},
    // MSG_WARN_DELETED_NOT_UNREGISTERED
    {WIDE("警告: データの削除は成功しましたが、ごみ箱登録データを削除できませんでした。\n"),
     WIDE("Warning: The file was deleted successfully, but registration data of the file in the Recycle Bin was not deleted.\n")},
    // MSG_ERR_COMMAND_LINE
    {WIDE("エラー: コマンドラインが不正です。\n"),
     WIDE("Error: Invalid command line.\n")},
    // MSG_ERR_BIN_INVALID
    {WIDE("エラー: ごみ箱のパス %s は見つからないか、不正なパスです。\n"),
     WIDE("Error: The Recycle Bin '%s' is invalid or missing.\n")},
    // MSG_ERR_FILE_INVALID
    {WIDE("エラー: ファイル %s は見つからないか、不正なパスです。\n"),
     WIDE("Error: The file '%s' is invalid or missing.\n")},
    // MSG_ERR_INDEX_RANGE
    {WIDE("エラー: 番号が不正です (1 から %d までの範囲で指定してください)。\n"),
     WIDE("Error: Invalid the index. Please specify in the range from 1 to %d.\n")},
    // MSG_ERR_NO_FILES
    {WIDE("エラー: ごみ箱にはデータがありません。\n"),
     WIDE("Error: No files in the Recycle Bin.\n")},
    // MSG_ERR_DRIVE_MISMATCH
    {WIDE("エラー: ファイルのあるドライブ (%c) とごみ箱のあるドライブ (%c) が一致しません。ファイルは、同じドライブにあるごみ箱にしか移動できません。\n"),
     WIDE("Error: The drive with the file '%c' is not equivalent with the drive with the Recycle Bin '%c'. You must throw away the file into the Recycle Bin in the same drive of the file.\n")},
    // MSG_ERR_DRIVE_ACCESS
    {WIDE("エラー: ドライブ %c に移動できません。ディスクが挿入されているか、正しいドライブ名であるか確認してください。\n"),
     WIDE("Error: Failed to access drive %c. Please check whether the drive is ready.\n")},
    // MSG_ERR_BIN_NOT_FOUND
    {WIDE("エラー: ドライブ %c にごみ箱が見つかりません。\n"),
     WIDE("Error: The Recycle Bin is not found in drive %c.\n")},
    // MSG_ERR_NOTHING_TO_THROW
    {WIDE("エラー: ごみ箱に移動すべきファイルがありません。\n"),
     WIDE("Error: There are no files to throw.\n")},
    // MSG_ERR_READ_FAILED
    {WIDE("エラー: ごみ箱 (%s) のデータ読み取りに失敗しました。\n"),
     WIDE("Error: Reading the data in the Recycle Bin (%s) failed.\n")},
    // MSG_ERR_RESTORE_FAILED
    {WIDE("エラー: データの '%s' への復元に失敗しました。このファイルやディレクトリが存在しないか、パスが不正でないか確認してください。\n"),
     WIDE("Error: Restoration of the file '%s' failed. Please check whether that file/directory is not available and invalid.\n")},
    // MSG_ERR_DELETE_FAILED
    {WIDE("エラー: ファイル (%s) の削除に失敗しました。\n"),
     WIDE("Error: Failed to delete the file '%s'.\n")},
    // MSG_ERR_EMPTY_FAILED
    {WIDE("エラー: ごみ箱 (%s) を空に出来ませんでした。\n"),
     WIDE("Error: Failed to empty the Recycle Bin (%s).\n")},
    // MSG_ERR_CREATE_FAILED
    {WIDE("エラー: ごみ箱 (%s) にデータを作成できません。\n"),
     WIDE("Error: Cannot create data for the Recycle Bin (%s).\n")},
    // MSG_ERR_NO_MEMORY
    {WIDE("エラー: メモリが不足しています。\n"),
     WIDE("Error: Not enough memory.\n")},
    // MSG_ERR_UNKNOWN
    {WIDE("エラー: 不明なエラーです。\n"),
     WIDE("Error: Unknown error occurred.\n")},
    // MSG_WAIT_BIN
    {WIDE("ごみ箱は他のプログラムが使用中です。待機しています...\n"),
     WIDE("The Recycle Bin is in use by another program. Waiting...\n")},
    // MSG_ERR_BIN_BUSY
    {WIDE("エラー: ごみ箱 (%s) は他のプログラムが使用中です。何も変更していません。しばらくしてから実行してください。\n"),
     WIDE("Error: The Recycle Bin (%s) is in use by another program. Nothing was changed; please try again later.\n")},
    // MSG_ERR_ENTRY_CHANGED
    {WIDE("エラー: この項目は、一覧を読んだ後にごみ箱から移動または削除されました。何も変更していません。\n"),
     WIDE("Error: The item left the Recycle Bin after it was listed. Nothing was changed.\n")},
    // MSG_WHATIF_RESTORE
    {WIDE("確認のみ: '%s' を '%s' に復元します。\n"),
     WIDE("What if: '%s' would be restored to '%s'.\n")},
    // MSG_WHATIF_DELETE
    {WIDE("確認のみ: '%s' を削除します。\n"),
     WIDE("What if: '%s' would be deleted.\n")},
    // MSG_WHATIF_THROW
    {WIDE("確認のみ: '%s' をごみ箱に移動します。\n"),
     WIDE("What if: '%s' would be moved to the Recycle Bin.\n")},
    // MSG_WHATIF_DONE
    {WIDE("確認のみ: 何も変更していません。\n"),
     WIDE("What if: nothing was changed.\n")},
    // MSG_ASK_EMPTY_SELECTED
    {WIDE("選択したデータをごみ箱から削除しますか? (%d 個のデータが削除されます。)"),
     WIDE("Would you like to delete the selected files from the Recycle Bin? (%d file(s) will be deleted.)")},
    // MSG_NONE_SELECTED
    {WIDE("条件に一致するデータはごみ箱にありません。\n"),
     WIDE("No file in the Recycle Bin matches the selection.\n")},
    // MSG_SELECTED_DELETED
    {WIDE("選択したデータをごみ箱から削除しました。\n"),
     WIDE("The selected files have been deleted from the Recycle Bin.\n")},
    // MSG_ERR_OUTPUT_FAILED
    {WIDE("エラー: 一覧を書き出せませんでした。\n"),
     WIDE("Error: Writing the listing failed.\n")},
};

// Most messages fit here, so printing needs no heap (and still works when
// memory has run out).
const int STACK_WIDE_CHARS = 1024;

// A name may hold control characters (C0, DEL, C1); printed as they are,
// they would clear the screen, retitle the terminal or start a forged line.
// DEL and C1 are one range test (below 0x7F the difference wraps), a form
// the compiler takes many characters at a time.
bool IsControlCharacter(uint32_t ch) { return ch < 0x20 || ch - 0x7F <= 0x9F - 0x7F; }
const WCHAR SHOWN_CONTROL = '?';

void MaskControls(WCHAR* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (IsControlCharacter(text[i])) text[i] = SHOWN_CONTROL;
}

// One conversion of a message format ("%s", "%-5d", "%%"): its text, the
// characters of the format it takes, and the argument it takes.
enum ArgumentKind { ARGUMENT_NONE, ARGUMENT_INT, ARGUMENT_LONG, ARGUMENT_POINTER };
const size_t CONVERSION_CHARS = 16;

struct Conversion {
    WCHAR spec[CONVERSION_CHARS];
    size_t length;
    ArgumentKind kind;
};

// The conversion at format (a '%'): flags, width and precision digits, one
// 'h' or 'l', then the letter. The messages use no '*' and no floating
// point; false for anything else.
bool ReadConversion(const WCHAR* format, Conversion* conversion) {
    size_t n = 1, longs = 0;
    for (; format[n] != 0 && WideFindFirst(WIDE("-+ #0123456789.hl"), format[n]) != nullptr; ++n)
        if (format[n] == 'l') ++longs;
    if (n + 1 >= CONVERSION_CHARS || longs > 1) return false;
    switch (format[n]) {
        case '%':
            conversion->kind = ARGUMENT_NONE;
            break;
        case 's':
        case 'S':
            conversion->kind = ARGUMENT_POINTER;
            break;
        case 'c':
        case 'C':
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            conversion->kind = longs > 0 ? ARGUMENT_LONG : ARGUMENT_INT;
            break;
        default:
            return false;
    }
    conversion->length = n + 1;
    for (size_t i = 0; i < conversion->length; ++i) conversion->spec[i] = format[i];
    conversion->spec[conversion->length] = 0;
    return true;
}

// The length of a one-conversion format with its argument; the text goes to
// out when it fits in `room` characters with the terminator.
int FormatOne(WCHAR* out, size_t room, const WCHAR* spec, ...) {
    va_list args;
    va_start(args, spec);
    int n = CountWideV(spec, args);
    va_end(args);
    if (n >= 0 && (size_t)n < room) {
        va_start(args, spec);
        n = FormatWideV(out, room, spec, args);
        va_end(args);
    }
    return n;
}

int FormatConversion(WCHAR* out, size_t room, const Conversion& conversion, va_list* args) {
    switch (conversion.kind) {
        case ARGUMENT_INT:
            return FormatOne(out, room, conversion.spec, va_arg(*args, int));
        case ARGUMENT_LONG:
            return FormatOne(out, room, conversion.spec, va_arg(*args, long));
        case ARGUMENT_POINTER:
            return FormatOne(out, room, conversion.spec, va_arg(*args, const void*));
        default:
            return FormatOne(out, room, conversion.spec);
    }
}

// The message as the runtime formats it, but with every control character
// that an argument brings shown as '?'; the format's own line breaks stay.
// Writes what fits in `capacity` (terminated) and returns the length of the
// whole text, so that a first call measures; -1 when a conversion fails.
int ComposeMessage(WCHAR* out, size_t capacity, const WCHAR* format, va_list* args) {
    size_t length = 0;
    for (const WCHAR* p = format; *p != 0;) {
        Conversion conversion;
        if (*p != '%' || !ReadConversion(p, &conversion)) {
            if (length + 1 < capacity) out[length] = *p;
            ++length;
            ++p;
            continue;
        }
        size_t room = length < capacity ? capacity - length : 0;
        int n = FormatConversion(out + (room > 0 ? length : 0), room, conversion, args);
        if (n < 0) return -1;
        if ((size_t)n < room) MaskControls(out + length, (size_t)n);
        length += (size_t)n;
        p += conversion.length;
    }
    if (capacity > 0) out[length < capacity ? length : capacity - 1] = 0;
    return length > (size_t)INT_MAX ? -1 : (int)length;
}

int PrintMessageV(const WCHAR* format, va_list args) {
    WCHAR stackText[STACK_WIDE_CHARS];
    va_list first;
    va_copy(first, args);
    int n = ComposeMessage(stackText, STACK_WIDE_CHARS, format, &first);
    va_end(first);
    if (n < 0) return 0;
    if (n < STACK_WIDE_CHARS) {
        WriteOutput(stackText, (size_t)n);
        return n;
    }
    WCHAR* text = static_cast<WCHAR*>(MemAlloc(sizeof(WCHAR) * ((size_t)n + 1)));
    if (text == nullptr) return 0;
    va_list second;
    va_copy(second, args);
    int written = ComposeMessage(text, (size_t)n + 1, format, &second);
    va_end(second);
    if (written >= 0) WriteOutput(text, (size_t)written);
    MemFree(text);
    return written < 0 ? 0 : written;
}

}  // namespace

const WCHAR* MessageText(int id) {
    int column = gRun.language == LANGUAGE_JAPANESE ? 0 : 1;
    if (id < 0 || id >= MSG_COUNT) id = MSG_ERR_UNKNOWN;
    return CATALOGUE[id][column];
}

int PrintMessage(const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int n = PrintMessageV(format, args);
    va_end(args);
    return n;
}

int PrintCatalogue(int id, ...) {
    va_list args;
    va_start(args, id);
    int n = PrintMessageV(MessageText(id), args);
    va_end(args);
    return n;
}

void PrintShownText(const WCHAR* text) {
    while (*text != 0) {
        size_t run = 0;
        while (text[run] != 0 && !IsControlCharacter(text[run])) ++run;
        if (run == 0) {
            WriteOutput(&SHOWN_CONTROL, 1);
            ++text;
            continue;
        }
        WriteOutput(text, run);
        text += run;
    }
}

bool CopyShownText(WCHAR* out, size_t capacity, const WCHAR* text, size_t* length, size_t* width) {
    size_t n = WideLength(text);
    if (n > capacity) return false;
    // Measured first, so that this loop has no early way out and the
    // compiler can take it many units at a time.
    unsigned bits = 0;
    for (size_t i = 0; i < n; ++i) {
        WCHAR unit = text[i];
        bits |= unit;
        out[i] = IsControlCharacter(unit) ? SHOWN_CONTROL : unit;
    }
    *length = n;
    // ASCII is one byte in every ANSI code page.
    *width = bits < 0x80 ? n : ShownAnsiWidth(text);
    return true;
}

size_t ShownAnsiWidth(const WCHAR* text) {
    size_t width = 0;
    while (*text != 0) {
        size_t run = 0;
        bool ascii = true;
        for (; text[run] != 0 && !IsControlCharacter(text[run]); ++run) ascii = ascii && text[run] < 0x80;
        if (run == 0) {
            width += 1;  // the control character, shown as SHOWN_CONTROL
            ++text;
            continue;
        }
        // ASCII is one byte in every ANSI code page.
        width += ascii ? run : (size_t)WideToAnsiUnits(text, (int)run, nullptr, 0);
        text += run;
    }
    return width;
}
