"""The program's message catalogue, for building expected output.

Each entry: (id name, English text, Japanese text). The texts are printf
formats; msg() fills them in with Python's % operator, which reads %s, %d,
%c and %-5d the same way the program's wide printf does.
"""

import os
import re

EN = "en"
JA = "ja"


def _project_version():
    """The version as CMakeLists.txt's project() gives it, the one place it is written."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
    with open(path, encoding="utf-8") as cmake:
        return re.search(r"project\(dustpail VERSION (\S+)", cmake.read()).group(1)


TITLE = "Dustpail Manager version " + _project_version()

# The ANSI code page each language runs under, as Python codec names.
CODE_PAGE = {EN: "cp1252", JA: "cp932"}

MESSAGES = (
    # 0
    ('MSG_USAGE',
     'Usage:\n  dustpail [/nologo] [<Recycle Path>] /f <file-name> [/Y]\n  dustpail [/nologo] [<Recycle Path>] <index> [/Y] [/delete | <Restore Path>]\n  dustpail [/nologo] [<Recycle Path>] /view\n  dustpail [/nologo] [<Recycle Path>] /empty [/Y]\n\n    <Recycle Path>  Specifies the Recyle Bin path. The default\n                    is x:\\Recycled (x is the current drive). You must\n                    specify it before /f, <index>, /view, and /empty.\n    <file-name>     Specifies the file/directory name to be moved to\n                    the Recycle Bin. You must specify it after /f.\n    <index>         Specifies the file index in the list shown by /view.\n    <Restore Path>  Specifies the file/directory of a restoration place.\n                    You need \\ at the end when specifying the directory.\n    /nologo         Suppresses displaying of the copyright.\n    /f              Moves the file to the Recycle Bin.\n    /delete         Deletes the file without restoring.\n                    You must specify it after <index>.\n    /view           Shows the list of removed files.\n    /empty          Empties the Recycle Bin.\n    /Y              Suppresses prompting to confirm.\n\n',
     '使い方:\n  dustpail [/nologo] [<ごみ箱のパス>] /f <ファイル名> [/Y]\n  dustpail [/nologo] [<ごみ箱のパス>] <ファイル番号> [/Y] [/delete | <復元先>]\n  dustpail [/nologo] [<ごみ箱のパス>] /view\n  dustpail [/nologo] [<ごみ箱のパス>] /empty [/Y]\n\n    <ごみ箱のパス>  ごみ箱のパスを指定します。省略した場合は、x:\\Recycled\n                    (x は現在のドライブ) を使用します。/f、復元ファイル番号、\n                    /view、/empty の前に指定する必要があります。\n    <ファイル名>    ごみ箱に移動するファイル/ディレクトリを指定します。\n                    /f の後に必ず指定する必要があります。\n    <ファイル番号>  /view で表示されるリスト内でのファイルの番号を指定します。\n    <復元先>        復元先のディレクトリ/ファイル名を指定します。ディレクトリを\n                    指定する場合は、末尾を \\ にしてください。\n    /nologo         著作権情報を表示しません。\n    /f              ファイルをごみ箱に移動します。\n    /delete         復元せずに削除します。復元ファイル番号の後に指定します。\n    /view           ごみ箱のファイルの一覧を表示します。\n    /empty          ごみ箱を空にします。\n    /Y              コマンド実行の際に確認のメッセージを表示しません。\n\n'),
    # 1
    ('MSG_BIN_PATH',
     'Recycle Bin: %s\n',
     'ごみ箱: %s\n'),
    # 2
    ('MSG_FILE_COUNT',
     'The number of files: %d\n',
     'ごみ箱のファイル数: %d\n'),
    # 3
    ('MSG_BIN_EMPTY',
     'The Recycle Bin is empty.\n',
     'ごみ箱は空です。\n'),
    # 4
    ('MSG_LIST_HEADER',
     'Index, File name, Timestamp, Attributes (<DIR> Archive System Hidden Readonly)\n',
     '番号, 元のファイル名, 削除日時, 属性 (<DIR> Archive System Hidden Readonly)\n'),
    # 5
    ('MSG_ASK_RESTORE',
     'Would you like to restore it?',
     'この内容を復元しますか?'),
    # 6
    ('MSG_ASK_DELETE',
     'Would you like to delete it?',
     'この内容を削除しますか?'),
    # 7
    ('MSG_ASK_EMPTY',
     'Would you like to empty the Recycle Bin? (%d file(s) will be deleted.)',
     'ごみ箱を空にしますか? (%d 個のデータが削除されます。)'),
    # 8
    ('MSG_ASK_THROW',
     'Would you like to move these files to the Recycle Bin?',
     'これらのファイルをごみ箱に移動しますか?'),
    # 9
    ('MSG_READING',
     'Reading: %s ...\n',
     '読み取り中: %s ...\n'),
    # 10
    ('MSG_RESTORING',
     "Restoring '%s' to '%s'...\n",
     "'%s' を '%s' に復元中...\n"),
    # 11
    ('MSG_DELETING_ONE',
     "Deleting '%s'...\n",
     "'%s' を削除中...\n"),
    # 12
    ('MSG_DELETING',
     'Deleting...\n',
     '削除中...\n'),
    # 13
    ('MSG_FINISHED',
     'Finished.\n',
     '終了しました。\n'),
    # 14
    ('MSG_DOS_NAME',
     "The file name '%s' can't use in DOS. Please input the new restoration name.\n",
     "ファイル名 '%s' は DOS では使用できません。新しい復元名を指定してください。\n"),
    # 15
    ('MSG_CHOOSE_BIN',
     'Please choose the Recycle Bin from the following lists.\n',
     '操作できるごみ箱が複数存在します。次の中から対象を選択してください。\n'),
    # 16
    ('MSG_INPUT_INDEX',
     'Input the index number[%d-%d]:',
     '番号で選択してください[%d-%d]:'),
    # 17
    ('MSG_RESTORE_OK',
     'The restoration finished successfully.\n',
     '復元は成功しました。\n'),
    # 18
    ('MSG_DELETE_OK',
     'The file has been deleted successfully.\n',
     '削除は成功しました。\n'),
    # 19
    ('MSG_THROW_OK',
     'The file has been moved to the Recycle Bin successfully.\n',
     'ごみ箱への移動に成功しました。\n'),
    # 20
    ('MSG_CANCELED',
     'The execution was canceled.\n',
     '動作は取り消されました。\n'),
    # 21
    ('MSG_ALREADY_EMPTY',
     'The Recycle Bin is already empty.\n',
     'ごみ箱は既に空です。\n'),
    # 22
    ('MSG_EMPTIED',
     'The Recycle Bin has emptied.\n',
     'ごみ箱を空にしました。\n'),
    # 23
    ('MSG_WARN_MOVED_NOT_UNREGISTERED',
     'Warning: The file was moved successfully, but registration data of the file in the Recycle Bin was not deleted.\n',
     '警告: データの移動は成功しましたが、ごみ箱登録データを削除できませんでした。\n'),
    # 24
    ('MSG_WARN_DELETED_NOT_UNREGISTERED',
     'Warning: The file was deleted successfully, but registration data of the file in the Recycle Bin was not deleted.\n',
     '警告: データの削除は成功しましたが、ごみ箱登録データを削除できませんでした。\n'),
    # 25
    ('MSG_ERR_COMMAND_LINE',
     'Error: Invalid command line.\n',
     'エラー: コマンドラインが不正です。\n'),
    # 26
    ('MSG_ERR_BIN_INVALID',
     "Error: The Recycle Bin '%s' is invalid or missing.\n",
     'エラー: ごみ箱のパス %s は見つからないか、不正なパスです。\n'),
    # 27
    ('MSG_ERR_FILE_INVALID',
     "Error: The file '%s' is invalid or missing.\n",
     'エラー: ファイル %s は見つからないか、不正なパスです。\n'),
    # 28
    ('MSG_ERR_INDEX_RANGE',
     'Error: Invalid the index. Please specify in the range from 1 to %d.\n',
     'エラー: 番号が不正です (1 から %d までの範囲で指定してください)。\n'),
    # 29
    ('MSG_ERR_NO_FILES',
     'Error: No files in the Recycle Bin.\n',
     'エラー: ごみ箱にはデータがありません。\n'),
    # 30
    ('MSG_ERR_DRIVE_MISMATCH',
     "Error: The drive with the file '%c' is not equivalent with the drive with the Recycle Bin '%c'. You must throw away the file into the Recycle Bin in the same drive of the file.\n",
     'エラー: ファイルのあるドライブ (%c) とごみ箱のあるドライブ (%c) が一致しません。ファイルは、同じドライブにあるごみ箱にしか移動できません。\n'),
    # 31
    ('MSG_ERR_DRIVE_ACCESS',
     'Error: Failed to access drive %c. Please check whether the drive is ready.\n',
     'エラー: ドライブ %c に移動できません。ディスクが挿入されているか、正しいドライブ名であるか確認してください。\n'),
    # 32
    ('MSG_ERR_BIN_NOT_FOUND',
     'Error: The Recycle Bin is not found in drive %c.\n',
     'エラー: ドライブ %c にごみ箱が見つかりません。\n'),
    # 33
    ('MSG_ERR_NOTHING_TO_THROW',
     'Error: There are no files to throw.\n',
     'エラー: ごみ箱に移動すべきファイルがありません。\n'),
    # 34
    ('MSG_ERR_READ_FAILED',
     'Error: Reading the data in the Recycle Bin (%s) failed.\n',
     'エラー: ごみ箱 (%s) のデータ読み取りに失敗しました。\n'),
    # 35
    ('MSG_ERR_RESTORE_FAILED',
     "Error: Restoration of the file '%s' failed. Please check whether that file/directory is not available and invalid.\n",
     "エラー: データの '%s' への復元に失敗しました。このファイルやディレクトリが存在しないか、パスが不正でないか確認してください。\n"),
    # 36
    ('MSG_ERR_DELETE_FAILED',
     "Error: Failed to delete the file '%s'.\n",
     'エラー: ファイル (%s) の削除に失敗しました。\n'),
    # 37
    ('MSG_ERR_EMPTY_FAILED',
     'Error: Failed to empty the Recycle Bin (%s).\n',
     'エラー: ごみ箱 (%s) を空に出来ませんでした。\n'),
    # 38
    ('MSG_ERR_CREATE_FAILED',
     'Error: Cannot create data for the Recycle Bin (%s).\n',
     'エラー: ごみ箱 (%s) にデータを作成できません。\n'),
    # 39
    ('MSG_ERR_NO_MEMORY',
     'Error: Not enough memory.\n',
     'エラー: メモリが不足しています。\n'),
    # 40
    ('MSG_ERR_UNKNOWN',
     'Error: Unknown error occurred.\n',
     'エラー: 不明なエラーです。\n'),
    # 41
    ('MSG_WAIT_BIN',
     'The Recycle Bin is in use by another program. Waiting...\n',
     'ごみ箱は他のプログラムが使用中です。待機しています...\n'),
    # 42
    ('MSG_ERR_BIN_BUSY',
     'Error: The Recycle Bin (%s) is in use by another program. Nothing was changed; please try again later.\n',
     'エラー: ごみ箱 (%s) は他のプログラムが使用中です。何も変更していません。しばらくしてから実行してください。\n'),
    # 43
    ('MSG_ERR_ENTRY_CHANGED',
     'Error: The item left the Recycle Bin after it was listed. Nothing was changed.\n',
     'エラー: この項目は、一覧を読んだ後にごみ箱から移動または削除されました。何も変更していません。\n'),
    # 44
    ('MSG_WHATIF_RESTORE',
     "What if: '%s' would be restored to '%s'.\n",
     "確認のみ: '%s' を '%s' に復元します。\n"),
    # 45
    ('MSG_WHATIF_DELETE',
     "What if: '%s' would be deleted.\n",
     "確認のみ: '%s' を削除します。\n"),
    # 46
    ('MSG_WHATIF_THROW',
     "What if: '%s' would be moved to the Recycle Bin.\n",
     "確認のみ: '%s' をごみ箱に移動します。\n"),
    # 47
    ('MSG_WHATIF_DONE',
     'What if: nothing was changed.\n',
     '確認のみ: 何も変更していません。\n'),
    ('MSG_ASK_EMPTY_SELECTED',
     'Would you like to delete the selected files from the Recycle Bin? (%d file(s) will be deleted.)',
     '選択したデータをごみ箱から削除しますか? (%d 個のデータが削除されます。)'),
    ('MSG_NONE_SELECTED',
     'No file in the Recycle Bin matches the selection.\n',
     '条件に一致するデータはごみ箱にありません。\n'),
    ('MSG_SELECTED_DELETED',
     'The selected files have been deleted from the Recycle Bin.\n',
     '選択したデータをごみ箱から削除しました。\n'),
    ('MSG_ERR_OUTPUT_FAILED',
     'Error: Writing the listing failed.\n',
     'エラー: 一覧を書き出せませんでした。\n'),
)


_BY_NAME = {name: (en, ja) for name, en, ja in MESSAGES}


def msg(name, lang, *args):
    """The catalogue text `name` in `lang`, formatted with `args`."""
    en, ja = _BY_NAME[name]
    text = ja if lang == JA else en
    return text % args if args else text


def usage(lang):
    return msg("MSG_USAGE", lang)


def command_line_error(lang):
    """What an invalid command line prints after the banner (exit code 21)."""
    return msg("MSG_ERR_COMMAND_LINE", lang) + "\n" + usage(lang)
