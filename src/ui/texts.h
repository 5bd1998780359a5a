// Every text the program shows, UTF-8 here. The Windows build compiles it to
// code page 932; the resource compiler reads it for the dialog template.
// Plain string macros only, so that both the compiler and windres take it.
#pragma once
// clang-format off

#define TXT_TITLE "Kormelde 1.34T Jun 30 2007"

// Dialog template.
// \042 is the double quote: windres warns on \" but reads octal escapes.
#define TXT_DLG_CAPTION "Kormelde \0421.34T\042 \042Jun 30 2007\042"
#define TXT_DLG_FONT "ＭＳ 明朝"
#define TXT_DLG_DISK_INITIAL "0"
#define TXT_DLG_DISK_HINT                                                                \
  "ＮＴシグニチャを操作する、物理ディスク番号を記載して下さい。\r\n[Get]の処理は、ドライブ名(C:等)にも対応します。"
#define TXT_DLG_GET "Get"
#define TXT_GET_IDLE "指定した物理ディスクの情報を取得します。"
#define TXT_DLG_ACCESS "Access"
#define TXT_ACCESS_IDLE "指定したディスクを確認する為に、テストアクセスを行います。"
#define TXT_DLG_NEWSIG_INITIAL "0"
#define TXT_DLG_NEWSIG_HINT                                                              \
  "書き換えるＮＴシグニチャを１６進８桁で記載して下さい。\nクリヤする場合は、０として下さい。\n例：56FC78DE ･･･ 00000000 等"
#define TXT_DLG_WRITE "Write"
#define TXT_DLG_WRITE_HINT "ＮＴシグニチャの書き換えを実行します。"
#define TXT_DLG_DISCLAIMER                                                               \
  "テストは行っていますが、十分では有りません。\nトラブル等が発生するおそれがあります。\nまた、トラブルが発生した場合保証は致しかねますのでご了承下さい。"
#define TXT_DLG_CAUTION                                                                  \
  "---注意---\nこのプログラムは、ディスクのＭＢＲ部分に書き込みを行います。\n書き込みに失敗した場合、ディスクが取り返しの付かないことになります。\n安全な環境で十分な確認の後にご利用下さい。"

// Start-up.
#define TXT_NOTICE                                                                       \
  "　　　　　　　　　★★　Kormelde 注意事項　★★\n\n"                                  \
  "本プログラムは、ハードディスクのＭＢＲと言われる部分の操作を行\n"                     \
  "います。十分に注意して作成したつもりですが、バグが残存している\n"                     \
  "可能性が有ります。ＭＢＲへの操作が失敗した場合、「ハードディス\n"                     \
  "クに重大な障害を与える」可能性も有ります。\n"                                         \
  "安全な環境で十分な動作確認を行った後、ご利用になる方の「自己責\n"                     \
  "任」で御願いします。\n"                                                               \
  "トラブルが発生した場合、このプログラムの改善に努力致しますが、\n"                     \
  "それを保証する事は出来ません。また、トラブルに対しては一切保証\n"                     \
  "出来ません。作者・配布者に瑕疵が有る場合も保証出来ませんので\n"                       \
  "ご了承下さい。\n"                                                                     \
  "なお、本プログラムは、ＲＡＩＤ等の環境に対応しておりません。"
#define TXT_PLATFORM                                                                     \
  "本プログラムは、\r\n　　・ウインドウズＮＴ系ＯＳ(NT4.0,2000,XP)\r\n　　・ＤＯＳ\n"    \
  "　　・ウインドウズのＤＯＳモード（ＤＯＳ窓不可）\r\n用です。\r\n"                    \
  "ウインドウズ９５／９８／ＭＥは、ＤＯＳモード（ＦＤ起動等）\r\nでご利用下さい。"

// Disk number.
#define TXT_BAD_DISK "ディスク番号が異常です。"

// Get.
#define TXT_DRIVE_ASK                                                                    \
  "番号ではなくドライブ名が入力されました。\nドライブ名[%c:]をディスク番号[%d]と読替えて\n処理を継続してよろしいですか？"
#define TXT_DRIVE_FAILED                                                                 \
  "番号ではなくドライブ名が入力されましたが、\nドライブ名[%c:]のディスク番号を取得出来ま\nせんでした。"
#define TXT_GET_BUSY "ディスク #%d の情報取得中。"
#define TXT_READ_FAILED "ディスクの読込に失敗しました (%d)"
#define TXT_GEOMETRY_FAILED "ディスク情報の取得に失敗しました (%d/geo)"
#define TXT_LAYOUT_FAILED "パーテーション情報の取得に失敗しました (%d/ddl)"
#define TXT_NO_IPL "ハードディスクＩＰＬが見つかりません。(%d)"
#define TXT_FORMAT_UNKNOWN_WARN "ハードウェア機種情報の取得に失敗しました(%d)"
#define TXT_REPORT_HEAD "NTSig\t= %8.8lX\nPSiz\t= %d\nDISK\t= %.0fMB\n"
#define TXT_REPORT_AT "形式\t= AT互換機ﾌｫｰﾏｯﾄ\n"
#define TXT_REPORT_PC98 "形式\t= PC-9821ﾌｫｰﾏｯﾄ\n"
#define TXT_REPORT_UNKNOWN "形式\t= 不明なﾌｫｰﾏｯﾄ\n"
#define TXT_REPORT_PARTITIONS "ﾊﾟｰﾃｰｼｮﾝ\t= "
#define TXT_REPORT_ITEM "%.0fMB(#%d) "

// Access and Write.
#define TXT_ACCESS_BUSY "ディスク #%d にアクセス中。"
#define TXT_WRITE_UNKNOWN                                                                \
  "ハードウェア機種情報の取得に失敗したため、\nＮＴシグニチャの書換えは行えません。(%d)"
#define TXT_NEWSIG_EMPTY "書換えるＮＴシグニチャ値の取得に失敗しました。"
#define TXT_NEWSIG_RESET "00000000"
#define TXT_WRITE_CONFIRM                                                                \
  "ディスク #%d のＮＴシグニチャ [%8.8X] を\n[%8.8lX] に変更してよろしいですか？"
#define TXT_WRITE_SUCCESS                                                                \
  "ＮＴシグニチャの書換に成功しました。\nディスク\t= %d\n旧NTSig\t= [%8.8lX]\n"          \
  "新NTSig\t= [%8.8lX]\n参考:ＮＴシグニチャを0としてクリヤした場合、ウ\n"                \
  "　　 インドウズＮＴの場合は、ディスクアドミニス\n"                                    \
  "　　 トレータ起動で、２０００・ＸＰの場合は再起\n"                                    \
  "　　 動でＮＴシグニチャが再書込される様です。\n"                                      \
  "注意:直ちに「本プログラム」及び「ウインドウズ」\n"                                    \
  "　　 を終了して下さい。\n\n☆ いますぐウインドウズを終了しますか？"
#define TXT_WRITE_FAILED "のＮＴシグニチャの書換に失敗しました。ディスク\t= %d\n"

// Linux: after a successful rewrite there is no Windows to shut down; the
// signature is also every partition's PARTUUID there.
#define TXT_WRITE_SUCCESS_LINUX                                                          \
  "ＮＴシグニチャの書換に成功しました。\nディスク\t= %d\n旧NTSig\t= [%8.8lX]\n"          \
  "新NTSig\t= [%8.8lX]\n"                                                                \
  "注意:このディスクの全パーティションのPARTUUIDもＮＴシグニチャと共に\n"                \
  "　　 変わりました。PARTUUIDで指定しているfstabやブートエントリを\n"                   \
  "　　 書き換えて下さい。"

// Linux: the question before a write also names the device and what tells
// it from an equal disk (model, serial, backing file).
#define TXT_WRITE_CONFIRM_LINUX                                                          \
  "ディスク #%d のＮＴシグニチャ [%8.8X] を\n[%8.8lX] に変更してよろしいですか？\n"       \
  "　対象: %s (%s)"

// Linux program (kormelde): the terminal's own texts.
#define TXT_LINUX_VERSION "kormelde %s (ビルド %s)"
#define TXT_LINUX_USAGE \
  "使い方: kormelde [オプション] コマンド [引数]\n" \
  "\n" \
  "コマンド:\n" \
  "  list [IMAGE...]\n" \
  "      ディスクの一覧(番号・パス・サイズ・形式・ＮＴシグニチャ・モデル)。\n" \
  "      同じシグニチャのディスクには印を付けます。\n" \
  "  get DISK\n" \
  "      ＮＴシグニチャ・パーティション・サイズ・形式を表示します。\n" \
  "  access DISK\n" \
  "      テストアクセス(64KiB x 200回の読込)でディスクを確認します。\n" \
  "  write DISK SIG [IMAGE...]\n" \
  "      ＮＴシグニチャを SIG に書き換えます。SIG は16進1-8桁(0でクリヤ)か\n" \
  "      random (どのディスクにも無い乱数値)。\n" \
  "  restore DISK BACKUP [IMAGE...]\n" \
  "      --backup で保存したファイルのＮＴシグニチャに戻します。\n" \
  "      BACKUP がこのディスクの物である事を確かめてから書きます。\n" \
  "  IMAGE はシグニチャの重複を調べる対象に加えるイメージファイルです。\n" \
  "  write と restore は注意事項と確認に「はい」と答えた時だけ書き込みます。\n" \
  "\n" \
  "DISK:\n" \
  "  0, 1, 2 ...   kormelde list の番号 (上限なし)\n" \
  "  /dev/sdb      ディスク全体のデバイス\n" \
  "  disk.img      イメージファイル (raw, 固定長VHD, HDI, NHD)\n" \
  "  /dev/sdb1, /  パーティションまたはマウントポイント (get のみ。確認の後、\n" \
  "                それを含むディスクを読みます)\n" \
  "  数字だけの名前のファイルは ./3 のように指定して下さい。\n" \
  "\n" \
  "オプション:\n" \
  "  -y, --yes        全ての質問に「はい」と答えます。\n" \
  "  -n, --no         全ての質問に「いいえ」と答えます。\n" \
  "                   どちらも無く端末も無い時は「いいえ」と答えます\n" \
  "                   (--dry-run では「はい」)。\n" \
  "  -q, --quiet      結果とエラーだけを出力します(注意事項・質問・進行は出しま\n" \
  "                   せん)。write と restore では --yes か --no と共に指定します。\n" \
  "  --backup=FILE    書き込む前にブート領域(先頭32セクタ)を FILE に保存します。\n" \
  "                   既存の FILE は上書きしません。\n" \
  "  --dry-run        write, restore: 全ての確認と質問の後、書かずに終わります。\n" \
  "                   端末が無い時は質問に「はい」と答えます。\n" \
  "  --windows=update|leave  write: ディスク上の Windows のブート設定とドライブ名\n" \
  "                   が旧いシグニチャを指す箇所も書き換えます(--backup に記録し、\n" \
  "                   restore で戻します)。端末が無い時はどちらかの指定が必要です\n" \
  "                   (--yes では答えになりません)。\n" \
  "  --linux=update|leave  write: 見つかった PARTUUID の行も書き換えます(ファイル\n" \
  "                   ごと置き換え、元のファイルは --backup に保存)。端末が無い時は\n" \
  "                   leave です。\n" \
  "  --root=DIR       PARTUUID の参照を DIR の下の /etc, /boot から探します\n" \
  "                   (/proc/cmdline は読みません)。\n" \
  "  --json           list, get, write, restore の結果を JSON で出力します。\n" \
  "  -o, --output=COLUMNS  list: 表示する列、get: 値だけを出力する列\n" \
  "                   (number,path,size,format,signature,same,model。\n" \
  "                   same は list のみ)。\n" \
  "  --value          get: ＮＴシグニチャだけを出力します (-o signature)。\n" \
  "  --sector-size=N  イメージファイルの論理セクタサイズ (512 か 4096、既定 512)。\n" \
  "                   ブロックデバイスではデバイスの値と違えば拒否します。\n" \
  "  -h, --help       この説明を表示します。\n" \
  "  -V, --version    版数とビルドを表示します。\n" \
  "  短いオプションはまとめて(-yq)、長いオプションは一意な略記(--dry)でも\n" \
  "  書けます。\n" \
  "\n" \
  "結果(get の情報、write の結果)は標準出力に、質問・進行・エラーは標準エラーに\n" \
  "出力します。\n" \
  "終了コード: 0 完了(--dry-run を含む)、1 拒否・中止・失敗、2 使い方の誤り\n" \
  "\n" \
  "qcow2・VMDK・VDI・VHDX・可変長 VHD のイメージは、イメージ毎に起動する qemu-nbd\n" \
  "(qemu-utils パッケージ)で開きます。root は要りません。書込の前に qemu-img check\n" \
  "で検査し、仮想マシン等が使用中のイメージには書き込みません。\n"
#define TXT_LINUX_USAGE_HINT "kormelde: %s (詳しくは kormelde --help)\n"
#define TXT_LINUX_QUIET_NEEDS_ANSWER "--quiet では質問が見えません。--yes か --no も指定して下さい"
#define TXT_LINUX_BAD_OPTION "不明なオプションです: %s"
#define TXT_LINUX_NO_COMMAND "コマンドがありません"
#define TXT_LINUX_BAD_COMMAND "不明なコマンドです: %s"
#define TXT_LINUX_ARG_COUNT "%s の引数の数が違います"
#define TXT_LINUX_YES_AND_NO "--yes と --no は同時に指定できません"
#define TXT_LINUX_WRITE_ONLY "%s は write と restore にだけ指定できます"
#define TXT_LINUX_JSON_NOT_ACCESS "--json は access には指定できません"
#define TXT_LINUX_NOT_IMAGE "比べるイメージファイル又はディスクではありません: %s"
#define TXT_LINUX_OPTION_ARGUMENT "%s には値が必要です"
#define TXT_LINUX_BACKUP_MISSING "--backup にファイル名がありません"
#define TXT_LINUX_BAD_SECTOR_SIZE "--sector-size は 512 か 4096 です: %s"
#define TXT_LINUX_BAD_SIGNATURE "ＮＴシグニチャは16進1-8桁か random で指定して下さい: %s"
#define TXT_LINUX_ASK_PROMPT "(y/N) "
#define TXT_LINUX_YES "はい"
#define TXT_LINUX_NO "いいえ"
#define TXT_LINUX_NO_TERMINAL "いいえ (端末が無いため。「はい」と答えるには --yes)"
#define TXT_LINUX_CANCELLED "中止しました。何も書き込んでいません。"
#define TXT_LINUX_READ_CANCELLED "中止しました。"
#define TXT_LINUX_UNREAD_GROUP "ディスク %s を読めません: %s"
#define TXT_LINUX_BAD_COLUMN "不明な列です: %s"
#define TXT_LINUX_LIST_GET_ONLY "%s は list と get にだけ指定できます"
#define TXT_LINUX_OUTPUT_JSON "%s と --json は同時に指定できません"
#define TXT_LINUX_DRY_RUN_YES "はい (--dry-run で端末が無いため。何も書き込みません)"
#define TXT_LINUX_DRY_RUN_RANDOM "random の値は [%08lX] です。この値を書き込むには:\n  %s"
#define TXT_LINUX_ALREADY "ディスク #%d のＮＴシグニチャは既に [%08lX] です。何も書き込んでいません。"
#define TXT_LINUX_RESTORE_HINT "書き込む前のブート領域はバックアップファイル[%s]に有ります。元に戻すには:\n  %s"
#define TXT_LINUX_GPT_NO_SIGNATURE "ディスク %s は GPT ディスクです。GPT ディスクにＮＴシグニチャは有りません。"
#define TXT_LINUX_MOUNT_POINT_ASK                                                        \
  "番号ではなくマウントポイントが指定されました。\n[%s]をディスク番号[%d](%s)と読替えて\n処理を継続してよろしいですか？"
#define TXT_LINUX_REASON "理由: %s"
#define TXT_LINUX_INTERRUPTED "%s を受けたので、ここで終了します。ディスクは上記のとおりです。これ以降は何も変更していません。"
#define TXT_LINUX_OUTPUT_FAILED "標準出力に書き込めませんでした: %s"
#define TXT_LINUX_DISK_PATH "ディスク #%d = %s"
#define TXT_LINUX_PATH_ERROR "[%s] %s"
#define TXT_LINUX_PARTITION_ASK                                                          \
  "番号ではなくパーティションが指定されました。\n[%s]をディスク番号[%d](%s)と読替えて\n処理を継続してよろしいですか？"
#define TXT_LINUX_PARTITION_REFUSED                                                      \
  "[%s]はパーティションです。\nこの処理はディスク番号かディスク全体のパスで指定して下さい。"
#define TXT_LINUX_BACKUP_SAVED "書き込む前のブート領域はバックアップファイル[%s]に有ります。"
#define TXT_LINUX_SIGNATURE_NOW "確認したＮＴシグニチャ [%8.8lX]、現在のＮＴシグニチャ [%8.8lX]"
#define TXT_LINUX_BACKUP_EXISTS "バックアップファイル[%s]は既に有ります。上書きはしません。"
#define TXT_LINUX_ACCESS_DONE "テストアクセス完了: %d 回の読込、%.3f 秒。"
#define TXT_LINUX_LIST_NUMBER "番号"
#define TXT_LINUX_LIST_PATH "パス"
#define TXT_LINUX_LIST_SIZE "サイズ"
#define TXT_LINUX_LIST_FORMAT "形式"
#define TXT_LINUX_LIST_SIGNATURE "ＮＴシグニチャ"
#define TXT_LINUX_LIST_MODEL "モデル/シリアル"
#define TXT_LINUX_LIST_COLLIDES "重複"
#define TXT_LINUX_LIST_IMAGE "イメージ(%s)"
#define TXT_LINUX_FORMAT_AT "AT互換機"
#define TXT_LINUX_FORMAT_PC98 "PC-9821"
#define TXT_LINUX_FORMAT_GPT "GPT"
#define TXT_LINUX_FORMAT_NONE "なし"
#define TXT_LINUX_FORMAT_UNKNOWN "不明"
#define TXT_LINUX_FORMAT_UNREAD "読めません"
#define TXT_LINUX_LIST_COLLISIONS                                                        \
  "注意: 印(*)のディスクは他のディスクと同じＮＴシグニチャです。Windows は片方を\n"       \
  "　　 オフラインにします。write DISK random で片方を書き換えられます。"
#define TXT_LINUX_LIST_EMPTY "ディスクが見つかりません。"
#define TXT_LINUX_WRITE_REFUSED "ディスク #%d (%s) には書き込めません。何も書き込んでいません。"
#define TXT_LINUX_GPT_REASON                                                             \
  "GPT ディスクです。GPT のディスク GUID はこのプログラムでは扱いません。"
#define TXT_LINUX_BACKUP_UNUSABLE "バックアップファイル[%s]を作れません: %s"
#define TXT_LINUX_NO_DIRECTORY "ディレクトリがありません。"
#define TXT_LINUX_NOT_DIRECTORY "ディレクトリではありません。"
#define TXT_LINUX_DIRECTORY_DENIED "ディレクトリに書き込む権限がありません。"
#define TXT_LINUX_DIRECTORY_READ_ONLY "読込専用のファイルシステムです。"
#define TXT_LINUX_RANDOM_FAILED "乱数を得られませんでした。"
#define TXT_LINUX_COLLISION_ASK                                                          \
  "新しいＮＴシグニチャ [%08X] は既に次のディスクに有ります:\n%s"                        \
  "同じシグニチャのディスクが２台有ると Windows は片方をオフラインにします。\n"          \
  "それでも続けますか？"
#define TXT_LINUX_COLLISION_ITEM "　ディスク #%d %s\n"
#define TXT_LINUX_REFERENCES_HEAD                                                        \
  "書き換えると、次の行の PARTUUID はどのパーティションも指さなくなります:"
#define TXT_LINUX_REFERENCE_ITEM "　%s:%u: PARTUUID=%s → %s"
#define TXT_LINUX_REFERENCES_NONE "PARTUUID=%08x-NN を参照する設定は見つかりませんでした。"
#define TXT_LINUX_REFERENCES_MORE "　…他 %lu 行"
#define TXT_LINUX_FILES_UNREAD                                                           \
  "次のファイルを読めなかったため、PARTUUID=%08x-NN を参照する行が有るかどうか分かりません:"
#define TXT_LINUX_FILE_UNREAD_ITEM "　%s: %s"
#define TXT_LINUX_FILE_DIRECTORY "ディレクトリです。"
#define TXT_LINUX_FILE_FIFO "FIFO(名前付きパイプ)です。"
#define TXT_LINUX_FILE_DEVICE "デバイスです。"
#define TXT_LINUX_FILE_NOT_REGULAR "通常のファイルではありません。"
#define TXT_LINUX_FILE_DANGLING "指す先の無いシンボリックリンクです(--root の下ではリンクはその中で辿ります)。"
#define TXT_LINUX_FILE_TOO_LARGE "%d MiB より大きいファイルです。"
#define TXT_LINUX_FILE_OVER_TOTAL "先に読んだファイルで読込の上限(合計 %d MiB)に達しました。"
#define TXT_LINUX_ROOT_UNUSABLE "--root [%s] は使えません: %s"
#define TXT_LINUX_ROOT_EMPTY                                                             \
  "PARTUUID を参照し得るファイル(/etc/fstab、/etc/crypttab、/boot/grub/grub.cfg 等)が一つも有りません。"
#define TXT_LINUX_UNCHANGED                                                              \
  "ＮＴシグニチャは変わりません。\nディスク\t= %d\nNTSig\t= [%8.8lX]\n"               \
  "PARTUUID も変わりません。"
#define TXT_LINUX_PARTUUID_HEAD "変わった PARTUUID:"
#define TXT_LINUX_PARTUUID_ITEM "　%s → %s"
#define TXT_LINUX_DRY_RUN_DONE "--dry-run: 確認は全て通りました。何も書き込んでいません。"
#define TXT_LINUX_RESTORE_SIZE "[%s] は --backup のファイルではありません(%d バイトでなければなりません)。"
#define TXT_LINUX_RESTORE_FORMAT                                                         \
  "[%s] はこのディスクのバックアップではありません: 形式が違います(ディスク %s、ファイル %s)。"
#define TXT_LINUX_RESTORE_DIFFERS                                                        \
  "[%s] はこのディスクのバックアップではありません: 0x%X から内容が違います。%s"
#define TXT_LINUX_RESTORE_TABLE_DIFFERS "パーティションテーブルも違います(再パーティション後?)。"
#define TXT_LINUX_RESTORE_TABLE_SAME "パーティションテーブルは同じです。"
#define TXT_LINUX_RESTORE_UNREADABLE "[%s] を読めません。"
// Linux: Get's and Access's texts naming the disk by its number (#N) or,
// when it was named by path, by the path.
#define TXT_LINUX_GET_BUSY "ディスク %s の情報取得中。"
#define TXT_LINUX_ACCESS_BUSY "ディスク %s にアクセス中。"
#define TXT_LINUX_READ_FAILED "ディスクの読込に失敗しました (%s)"
#define TXT_LINUX_GEOMETRY_FAILED "ディスク情報の取得に失敗しました (%s/geo)"
#define TXT_LINUX_LAYOUT_FAILED "パーティション情報の取得に失敗しました (%s/ddl)"
#define TXT_LINUX_NO_IPL "ハードディスクＩＰＬが見つかりません。(%s)"
#define TXT_LINUX_FORMAT_UNKNOWN_WARN "ハードウェア機種情報の取得に失敗しました(%s)"

// Linux disk backend: why a disk could not be opened or written.
#define TXT_POSIX_OK "エラーはありません。"
#define TXT_POSIX_NO_SUCH_DISK "ディスクがありません。"
#define TXT_POSIX_NO_PERMISSION "ディスクを開く権限がありません。root で実行して下さい。"
#define TXT_POSIX_NO_PERMISSION_ROOT "root でもこのディスクを開くことはシステムに拒否されました。"
#define TXT_POSIX_LOCKED "ディスクは他のプログラムが書き込み中です(ロック中)。"
#define TXT_POSIX_NOT_A_DISK "ディスクではありません(ディレクトリ等)。"
#define TXT_POSIX_TOO_SHORT "ディスクが小さ過ぎます(３２セクタのブート領域が有りません)。"
#define TXT_POSIX_BAD_CONTAINER "イメージファイルのヘッダ又はフッタが不正です。"
#define TXT_POSIX_BACKUP_FAILED                                                          \
  "バックアップファイルを作成出来ませんでした(既に有る等)。書込は行っていません。"
#define TXT_POSIX_IO_ERROR "ディスクの入出力に失敗しました。"
#define TXT_POSIX_UNSUPPORTED_IMAGE                                                      \
  "この形式のイメージファイルは直接扱えません。qemu-nbd で接続して下さい。"
#define TXT_POSIX_READ_ONLY "ディスクは読込専用です。"
#define TXT_POSIX_DISK_CHANGED "確認の後にディスクのブート領域が変更されたため、書き込みませんでした。"
#define TXT_POSIX_OTHER_DISK                                                             \
  "指定した名前が最初に確認したディスクとは別のディスクを指しています(ディスクの抜き差し等)。何も書き込んでいません。"
#define TXT_POSIX_NO_NUMBER_LEFT "割り当てるディスク番号が残っていません。"
#define TXT_POSIX_SECTOR_SIZE "--sector-size がディスク(又はイメージのヘッダ)のセクタサイズと違います。"
#define TXT_POSIX_NO_LAYOUT "パーティションテーブルを読めません(GPT ディスク等)。"
#define TXT_POSIX_NOT_EXPECTED "確認の後にＮＴシグニチャが変わったため、書き込みませんでした。"
#define TXT_POSIX_NO_BOOT_MARK "ブートマーク(0x1FE の 55 AA)がありません。"
#define TXT_POSIX_FORMAT_UNKNOWN "ＮＴシグニチャの位置(AT互換機/PC-9821)を決められません。"
#define TXT_POSIX_SECTOR_UNSUPPORTED                                                     \
  "イメージのセクタサイズ(ヘッダに記録された値)には対応していません。対応は512バイトです。"
#define TXT_POSIX_WRITE_UNDONE                                                           \
  "書き込みに失敗しました。ディスクは元のままです(旧いＮＴシグニチャ。何も変わっていません)。"
#define TXT_POSIX_WRITE_LEFT_NEW                                                         \
  "書き込みの確認に失敗し、元に戻せませんでした。ディスクには新しいＮＴシグニチャが書かれています。"
#define TXT_POSIX_WRITE_TORN                                                             \
  "書き込みに失敗し、元に戻せませんでした。ディスクのＮＴシグニチャは旧い値でも新しい値でもありません(一部だけ書き換わっています)。"
#define TXT_POSIX_WRITE_UNVERIFIED                                                       \
  "書き込みに失敗し、ディスクを読み戻せませんでした。ディスクのＮＴシグニチャが何になっているか分かりません。"
#define TXT_POSIX_IMAGE_IN_USE "イメージは実行中の仮想マシン等(QEMU)が使用中です。"
#define TXT_POSIX_IMAGE_REFUSED "QEMU がイメージを開けませんでした。"
#define TXT_POSIX_IMAGE_ENCRYPTED "イメージは暗号化されています。鍵が無いため開きません。"
#define TXT_POSIX_IMAGE_READ_ONLY                                                        \
  "このイメージは読むだけで、書き込みません(QEMU が書けない streamOptimized VMDK、又はデータがイメージの外にあるもの: パス名やデバイスの VMDK エクステント、qcow2 の外部データファイル)。"
#define TXT_POSIX_IMAGE_CHECK_FAILED "qemu-img check がイメージにエラーを見つけました。書き込みません。"
#define TXT_POSIX_NO_QEMU "qemu-nbd 又は qemu-img がありません。qemu-utils をインストールして下さい。"
#define TXT_LINUX_QEMU_SAID "%s (QEMU: %s)"

// The systems on a disk (Linux program).
#define TXT_LINUX_WINDOWS_HEAD "このディスクの Windows の設定 %u 箇所が旧いＮＴシグニチャ [%08X] を指しています:"
#define TXT_LINUX_WINDOWS_OTHER_HEAD "ディスク #%d %s の Windows の設定 %u 箇所も [%08X] を指しています(書き換えません):"
#define TXT_LINUX_WINDOWS_ITEM "　%u:%s: %s → %s"
#define TXT_LINUX_WINDOWS_NOW_ITEM "　%u:%s: %s"
#define TXT_LINUX_WINDOWS_NAMES "[%08X] パーティション %u"
#define TXT_LINUX_WINDOWS_NAMES_NONE "[%08X] オフセット %llu(このディスクに無いパーティション)"
#define TXT_LINUX_WINDOWS_KEPT "書き換えません(%s)"
#define TXT_LINUX_WINDOWS_NESTED "入れ子の記述(ramdisk、VHD)"
#define TXT_LINUX_WINDOWS_NOT_LOCATED "ディスク上の位置が分かりません"
#define TXT_LINUX_WINDOWS_NO_PARTITION "指すパーティションがありません"
#define TXT_LINUX_WINDOWS_OTHER_KEPT "別のディスク"
#define TXT_LINUX_WINDOWS_PROBLEM "　パーティション %u: %s%s"
#define TXT_LINUX_WINDOWS_HIVE_DIRTY "ハイブに未反映の変更があります(ログに残っています)"
#define TXT_LINUX_WINDOWS_HIVE_CHECKSUM "ハイブのチェックサムが合いません"
#define TXT_LINUX_WINDOWS_HIBERNATED "Windows が休止状態(高速スタートアップ)です"
#define TXT_LINUX_WINDOWS_UNCLEAN "ボリュームが正しく閉じられていません($LogFile)"
#define TXT_LINUX_WINDOWS_NOT_PLAIN "データが常駐・圧縮・スパース・暗号化のいずれかです"
#define TXT_LINUX_WINDOWS_NEW_NAMED "新しいＮＴシグニチャを既に指している設定があります(ドライブ名が衝突します)"
#define TXT_LINUX_WINDOWS_BITLOCKER "BitLocker のボリュームです。中は読めません。BitLocker が回復キーを求めることがあります"
#define TXT_LINUX_WINDOWS_DYNAMIC "ダイナミックディスクです(種類 0x42)"
#define TXT_LINUX_WINDOWS_ZERO "新しいＮＴシグニチャが 0 です。Windows は起動時に別の値を書きます"
#define TXT_LINUX_WINDOWS_NOT_SEARCHED "調べていません"
#define TXT_LINUX_WINDOWS_ASK "Windows の設定 %u 箇所も新しいＮＴシグニチャに書き換えますか？"
#define TXT_LINUX_WINDOWS_REFUSED "Windows の設定は書き換えられません。何も書き込んでいません:"
#define TXT_LINUX_WINDOWS_WRITTEN "Windows の設定 %u 箇所を書き換えました。"
#define TXT_LINUX_WINDOWS_COUNT "Windows の設定で [%08X] を指す箇所: %u"
#define TXT_LINUX_CHOOSE_BY_OPTION "端末が無いので答えられません: %s で選んで下さい。"
#define TXT_LINUX_LINES_CLONE "書き換えると、次の行の PARTUUID は同じ旧いＮＴシグニチャを持つディスク #%d %s のパーティションを指すようになります:"
#define TXT_LINUX_LINES_ASK "これらの行の PARTUUID も書き換えますか？"
#define TXT_LINUX_LINES_WRITTEN "[%s] を書き換えました。"
#define TXT_LINUX_LINES_FAILED "[%s] を書き換えられませんでした(元のままです): %s"
#define TXT_LINUX_RESTORE_RECORDS "バックアップに記録された変更 %u 箇所とファイル %u 個も元に戻します:"
#define TXT_LINUX_RESTORE_RECORDS_BAD "バックアップファイルの変更記録が壊れています。何も書き込んでいません。"
#define TXT_LINUX_BAD_UPDATE_CHOICE "%s は update か leave です"
#define TXT_LINUX_WINDOWS_BUSY "使用中です(マウントされています)"
#define TXT_LINUX_RESTORE_FILE_EDITED "[%s] は書き換えの後に変更されています。そのままにします。"
