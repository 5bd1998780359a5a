#include "ui/commands.h"
#include "ui/report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "disk/bootrecord.h"
#include "support/fake_disk.h"
#include "support/scripted_surface.h"

namespace {

const uint64_t MiB = 1 << 20;
const char *kTitle = "Kormelde 1.34T Jun 30 2007";

class Commands : public ::testing::Test {
protected:
  ScriptedSurface ui;
  Session session = {ui.dialog(), nullptr, 0};
  void SetUp() override {
    FakeReset();
    g_shutdowns.clear();
    ui.fields[IDC_DISK] = "0";
    ui.fields[IDC_NEWSIG] = "00000000";
    ui.fields[IDC_GET_TEXT] = "指定した物理ディスクの情報を取得します。";
    ui.fields[IDC_ACCESS_TEXT] = "指定したディスクを確認する為に、テストアクセスを行います。";
  }
  // An AT disk reporting sig, 8 cylinders of 255 x 63 (62.75 MiB).
  FakeDisk &At(int number, uint32_t sig, std::vector<uint64_t> entries = {10 * MiB}) {
    FakeDisk &disk = FakeAddDisk(number, 64);
    disk.signature = sig;
    disk.entry_lengths = entries;
    disk.geometry = {8, 12, 255, 63, 512};
    disk.bytes[BOOT_MARK_OFFSET] = 0x55;
    disk.bytes[BOOT_MARK_OFFSET + 1] = 0xAA;
    StoreLe32(&disk.bytes[AT_SIGNATURE_OFFSET], sig);
    return disk;
  }
  std::string Last() const { return ui.messages.empty() ? "" : ui.messages.back().text; }
  std::string Report() {
    CommandGet(&session);
    return Last();
  }
};

TEST_F(Commands, GetReportByteForByte) {
  At(0, 0x1234ABCD, {10 * MiB, 0, 20 * MiB, 30 * MiB});
  EXPECT_EQ(Report(), "NTSig\t= 1234ABCD\nPSiz\t= 4\nDISK\t= 63MB\n形式\t= AT互換機ﾌｫｰﾏｯﾄ\n"
                      "ﾊﾟｰﾃｰｼｮﾝ\t= 10MB(#1) 20MB(#3) 30MB(#4) ");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, kTitle);
  EXPECT_EQ(ui.messages[0].style, 0u);
  // Progress line set while working, template text back afterwards.
  ASSERT_EQ(ui.field_writes.size(), 2u);
  EXPECT_EQ(ui.field_writes[0].second, "ディスク #0 の情報取得中。");
  EXPECT_EQ(ui.fields[IDC_GET_TEXT], "指定した物理ディスクの情報を取得します。");
  // Geometry, layout and format on one handle.
  EXPECT_EQ(FakeCount("open"), 1);
  EXPECT_EQ(g_fake.open_handles, 0);
}

TEST_F(Commands, GetReportSizesAndLimits) {
  // Ties round away from zero; 512 KiB and less is not listed.
  FakeDisk &d = At(0, 1, {5 * MiB / 2, 7 * MiB / 2, 524288, 524289, 1});
  d.geometry = {5, 12, 1, 1024, 512}; // 2.5 MiB
  EXPECT_EQ(Report(), "NTSig\t= 00000001\nPSiz\t= 5\nDISK\t= 3MB\n形式\t= AT互換機ﾌｫｰﾏｯﾄ\n"
                      "ﾊﾟｰﾃｰｼｮﾝ\t= 3MB(#1) 4MB(#2) 1MB(#4) ");

  FakeReset();
  At(0, 2, {524288, 0});
  EXPECT_EQ(Report(), "NTSig\t= 00000002\nPSiz\t= 2\nDISK\t= 63MB\n形式\t= AT互換機ﾌｫｰﾏｯﾄ\n"
                      "ﾊﾟｰﾃｰｼｮﾝ\t= ");

  FakeReset();
  std::vector<uint64_t> many;
  for (int i = 1; i <= 20; i++)
    many.push_back(i * MiB);
  At(0, 3, many);
  std::string report = Report();
  EXPECT_NE(report.find("PSiz\t= 16\n"), std::string::npos);
  EXPECT_NE(report.find("16MB(#16) "), std::string::npos);
  EXPECT_EQ(report.find("17MB"), std::string::npos);
}

TEST_F(Commands, GetUnknownFormatWarnsThenReports) {
  FakeDisk &d = At(0, 0x1234ABCD);
  StoreLe32(&d.bytes[AT_SIGNATURE_OFFSET], 0x99);
  CommandGet(&session);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, "ハードウェア機種情報の取得に失敗しました(0)");
  EXPECT_NE(ui.messages[1].text.find("形式\t= 不明なﾌｫｰﾏｯﾄ\n"), std::string::npos);
}

TEST_F(Commands, GetPc98Format) {
  FakeDisk &d = At(0, 0x5A5A0001);
  StoreLe32(&d.bytes[AT_SIGNATURE_OFFSET], 0);
  StoreLe32(&d.bytes[PC98_SIGNATURE_OFFSET], 0x5A5A0001);
  EXPECT_NE(Report().find("形式\t= PC-9821ﾌｫｰﾏｯﾄ\n"), std::string::npos);
}

TEST_F(Commands, GetFailuresNameTheDiskAndRestoreTheProgressLine) {
  struct Case {
    const char *fail_op;
    const char *message;
  } cases[] = {{"open", "ディスクの読込に失敗しました (7)"},
               {"geometry", "ディスク情報の取得に失敗しました (7/geo)"},
               {"layout", "パーテーション情報の取得に失敗しました (7/ddl)"}};
  for (const Case &c : cases) {
    SetUp();
    ui.messages.clear();
    ui.fields[IDC_DISK] = "7";
    At(7, 1);
    g_fake.fail_op = c.fail_op;
    CommandGet(&session);
    ASSERT_EQ(ui.messages.size(), 1u) << c.fail_op;
    EXPECT_EQ(ui.messages[0].text, c.message);
    EXPECT_EQ(ui.fields[IDC_GET_TEXT], "指定した物理ディスクの情報を取得します。");
    EXPECT_EQ(g_fake.open_handles, 0);
  }
  SetUp();
  ui.messages.clear();
  FakeDisk &d = At(0, 1);
  d.bytes[BOOT_MARK_OFFSET] = 0;
  CommandGet(&session);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(Last(), "ハードディスクＩＰＬが見つかりません。(0)");
}

TEST_F(Commands, GetEmptyFieldDoesNothing) {
  ui.fields[IDC_DISK] = "";
  CommandGet(&session);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.field_writes.empty());
  EXPECT_TRUE(g_fake.calls.empty());
}

TEST_F(Commands, GetDriveName) {
  At(0, 0xAB);
  g_fake.letters['C'] = 0;
  g_fake.letters['c'] = 0;

  ui.fields[IDC_DISK] = "C:";
  ui.answers = {ANSWER_YES};
  CommandGet(&session);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text,
            "番号ではなくドライブ名が入力されました。\nドライブ名[C:]をディスク番号"
            "[0]と読替えて\n処理を継続してよろしいですか？");
  EXPECT_EQ(ui.messages[0].style, 4u);
  EXPECT_EQ(ui.fields[IDC_DISK], "0");
  EXPECT_EQ(ui.messages[1].text.substr(0, 16), "NTSig\t= 000000AB");

  // No leaves the field and stops; a lower-case letter is passed on as typed.
  ui.messages.clear();
  ui.fields[IDC_DISK] = "c:\\";
  CommandGet(&session);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find("[c:]"), std::string::npos);
  EXPECT_EQ(ui.fields[IDC_DISK], "c:\\");
  EXPECT_EQ(g_fake.calls.back().mode, 'c');

  // "1:" is a drive name, and this one has no volume.
  ui.messages.clear();
  ui.fields[IDC_DISK] = "1:";
  CommandGet(&session);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(Last(), "番号ではなくドライブ名が入力されましたが、\nドライブ名[1:]のディスク番号を取"
                    "得出来ま\nせんでした。");
  g_fake.letters['E'] = EXTENTS_QUERY_FAILED;
  ui.fields[IDC_DISK] = "E:";
  CommandGet(&session);
  EXPECT_NE(Last().find("[E:]のディスク番号"), std::string::npos);

  // A number above 50 is written into the field, then refused.
  g_fake.letters['D'] = 51;
  ui.messages.clear();
  ui.fields[IDC_DISK] = "D:";
  ui.answers = {ANSWER_YES};
  CommandGet(&session);
  EXPECT_EQ(Last(), "ディスク番号が異常です。");
  EXPECT_EQ(ui.fields[IDC_DISK], "51");
  EXPECT_EQ(FakeCount("open"), 1); // only the Get of C:
}

TEST_F(Commands, DiskNumberRule) {
  At(0, 1);
  At(50, 1);
  for (const char *bad : {"", "abc", "-1", "51", "4294967295", "99999999999"}) {
    ui.messages.clear();
    ui.fields[IDC_DISK] = bad;
    CommandAccess(&session);
    CommandWrite(&session);
    ASSERT_EQ(ui.messages.size(), 2u) << bad;
    EXPECT_EQ(ui.messages[0].text, "ディスク番号が異常です。");
    EXPECT_EQ(ui.messages[1].text, "ディスク番号が異常です。");
  }
  EXPECT_TRUE(g_fake.calls.empty());
  for (const char *good : {"0", "50", " 50", "50 "}) {
    ui.fields[IDC_DISK] = good;
    EXPECT_EQ(ReadDiskNumber(&session), 1) << good;
  }
  EXPECT_EQ(session.disk, 50);
}

TEST_F(Commands, AccessSweepsAndRestoresTheProgressLine) {
  At(3, 1);
  ui.fields[IDC_DISK] = "3";
  CommandAccess(&session);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(FakeCount("read"), 200);
  ASSERT_EQ(ui.field_writes.size(), 2u);
  EXPECT_EQ(ui.field_writes[0].second, "ディスク #3 にアクセス中。");
  EXPECT_EQ(ui.field_writes[1].second,
            "指定したディスクを確認する為に、テストアクセスを行います。");
  EXPECT_EQ(g_fake.open_handles, 0);

  // A disk that cannot be opened: the message, and the line never changes.
  ui.field_writes.clear();
  ui.fields[IDC_DISK] = "4";
  CommandAccess(&session);
  EXPECT_EQ(Last(), "ディスクの読込に失敗しました (4)");
  EXPECT_TRUE(ui.field_writes.empty());
}

TEST_F(Commands, WriteProposesTheParsedValue) {
  struct Case {
    const char *typed;
    const char *proposed;
  } cases[] = {{"56FC78DE", "56FC78DE"},  {"0", "00000000"},     {"xyz", "00000000"},
               {"123456789", "23456789"}, {"-1", "FFFFFFFF"},    {"0x56fc78de", "56FC78DE"},
               {" \t+0X1f", "0000001F"},  {"-0x10", "FFFFFFF0"}, {"12G4", "00000012"},
               {"0x", "00000000"},        {"- 5", "00000000"},   {"　1", "00000000"},
               {"100000000", "00000000"}};
  At(0, 0x1234ABCD);
  for (const Case &c : cases) {
    ui.messages.clear();
    ui.fields[IDC_NEWSIG] = c.typed;
    CommandWrite(&session); // answered No
    ASSERT_EQ(ui.messages.size(), 1u) << c.typed;
    EXPECT_EQ(ui.messages[0].text, std::string("ディスク #0 のＮＴシグニチャ [1234ABCD] を\n[") +
                                       c.proposed + "] に変更してよろしいですか？")
        << c.typed;
  }
  EXPECT_EQ(FakeCount("write"), 0);
}

TEST_F(Commands, WriteSucceedsAndOffersShutdown) {
  At(0, 0x1234ABCD);
  ui.fields[IDC_NEWSIG] = "56FC78DE";
  ui.answers = {ANSWER_YES, ANSWER_NO};
  CommandWrite(&session);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].style, 4u);
  EXPECT_EQ(ui.messages[1].text,
            "ＮＴシグニチャの書換に成功しました。\nディスク\t= 0\n旧NTSig\t= [1234ABCD]\n"
            "新NTSig\t= [56FC78DE]\n参考:ＮＴシグニチャを0としてクリヤした場合、ウ\n"
            "　　 インドウズＮＴの場合は、ディスクアドミニス\n"
            "　　 トレータ起動で、２０００・ＸＰの場合は再起\n"
            "　　 動でＮＴシグニチャが再書込される様です。\n"
            "注意:直ちに「本プログラム」及び「ウインドウズ」\n"
            "　　 を終了して下さい。\n\n☆ いますぐウインドウズを終了しますか？");
  EXPECT_EQ(LoadLe32(&g_fake.disks[0].bytes[AT_SIGNATURE_OFFSET]), 0x56FC78DEu);
  EXPECT_TRUE(g_shutdowns.empty());

  // Yes to the offer asks for shutdown and power-off.
  g_fake.disks[0].signature = 0x56FC78DE;
  ui.fields[IDC_NEWSIG] = "0";
  ui.answers = {ANSWER_YES, ANSWER_YES};
  CommandWrite(&session);
  ASSERT_EQ(g_shutdowns.size(), 1u);
  EXPECT_EQ(g_shutdowns[0], 9u);
  EXPECT_EQ(LoadLe32(&g_fake.disks[0].bytes[AT_SIGNATURE_OFFSET]), 0u);
  EXPECT_EQ(g_fake.open_handles, 0);
}

TEST_F(Commands, WriteRefusals) {
  // Empty field: message, field reset, nothing asked.
  At(0, 0x1234ABCD);
  ui.fields[IDC_NEWSIG] = "";
  CommandWrite(&session);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(Last(), "書換えるＮＴシグニチャ値の取得に失敗しました。");
  EXPECT_EQ(ui.fields[IDC_NEWSIG], "00000000");

  // No to the confirmation writes nothing.
  ui.messages.clear();
  ui.answers = {ANSWER_NO};
  CommandWrite(&session);
  EXPECT_EQ(FakeCount("write"), 0);
  EXPECT_EQ(ui.messages.size(), 1u);

  // No boot mark: asked about, then refused by the rewrite.
  FakeDisk &nomark = At(1, 0x1234ABCD);
  nomark.bytes[BOOT_MARK_OFFSET] = 0;
  std::vector<uint8_t> before = nomark.bytes;
  ui.fields[IDC_DISK] = "1";
  ui.messages.clear();
  ui.answers = {ANSWER_YES};
  CommandWrite(&session);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].style, 4u);
  EXPECT_EQ(Last(), "のＮＴシグニチャの書換に失敗しました。ディスク\t= 1\n");
  EXPECT_EQ(g_fake.disks[1].bytes, before);

  // Unknown format: refused before asking.
  FakeDisk &neither = At(2, 0x1234ABCD);
  StoreLe32(&neither.bytes[AT_SIGNATURE_OFFSET], 0);
  ui.fields[IDC_DISK] = "2";
  ui.messages.clear();
  CommandWrite(&session);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(Last(),
            "ハードウェア機種情報の取得に失敗したため、\nＮＴシグニチャの書換えは行えません。(2)");

  // Layout and open failures.
  ui.fields[IDC_DISK] = "0";
  g_fake.fail_op = "layout";
  CommandWrite(&session);
  EXPECT_EQ(Last(), "パーテーション情報の取得に失敗しました (0/ddl)");
  ui.fields[IDC_DISK] = "9";
  CommandWrite(&session);
  EXPECT_EQ(Last(), "ディスクの読込に失敗しました (9)");
  EXPECT_EQ(FakeCount("write"), 0);
  EXPECT_EQ(g_fake.open_handles, 0);
}

TEST_F(Commands, WriteRefusedWhenTheDiskChangedWhileAsking) {
  FakeDisk &d = At(0, 0x1234ABCD);
  ui.fields[IDC_NEWSIG] = "1";
  ui.answers = {ANSWER_YES};
  // Another program gives the disk a new signature while the question is open.
  ui.on_question = [&d] {
    d.signature = 0x0BADF00D;
    StoreLe32(&d.bytes[AT_SIGNATURE_OFFSET], 0x0BADF00D);
  };
  CommandWrite(&session);
  EXPECT_EQ(Last(), "のＮＴシグニチャの書換に失敗しました。ディスク\t= 0\n");
  EXPECT_EQ(FakeCount("write"), 0);
  EXPECT_EQ(LoadLe32(&d.bytes[AT_SIGNATURE_OFFSET]), 0x0BADF00Du);
}

// What each command returns, whatever it showed: the Linux program's exit
// status and reason line come from this alone.
TEST_F(Commands, OutcomesAndReasons) {
  auto Is = [](Outcome o, OutcomeKind kind, DiskError reason) {
    return o.kind == kind && o.reason == reason;
  };
  At(0, 0x1234ABCD);
  EXPECT_TRUE(Is(CommandGet(&session), OUTCOME_DONE, DISK_OK));
  EXPECT_TRUE(Is(CommandAccess(&session), OUTCOME_DONE, DISK_OK));
  ui.fields[IDC_NEWSIG] = "1";
  EXPECT_TRUE(Is(CommandWrite(&session), OUTCOME_DECLINED, DISK_OK)); // answered No
  ui.fields[IDC_NEWSIG] = "";
  EXPECT_TRUE(Is(CommandWrite(&session), OUTCOME_REFUSED, DISK_OK));
  ui.fields[IDC_NEWSIG] = "1";
  ui.answers = {ANSWER_YES, ANSWER_NO};
  EXPECT_TRUE(Is(CommandWrite(&session), OUTCOME_DONE, DISK_OK));

  // The signature changed while the question was open: refused, with why.
  FakeReset();
  At(0, 0x1234ABCD);
  ui.answers = {ANSWER_YES};
  ui.on_question = [] { g_fake.disks[0].signature = 0x77777777; };
  Outcome changed = CommandWrite(&session);
  EXPECT_TRUE(Is(changed, OUTCOME_REFUSED, DISK_NOT_EXPECTED));
  EXPECT_EQ(changed.shown, 0x1234ABCDu);
  EXPECT_EQ(changed.found, 0x77777777u);
  ui.on_question = nullptr;

  ui.fields[IDC_DISK] = "51";
  EXPECT_TRUE(Is(CommandGet(&session), OUTCOME_REFUSED, DISK_OK));
  ui.fields[IDC_DISK] = "7"; // no such disk
  for (Outcome o : {CommandGet(&session), CommandAccess(&session), CommandWrite(&session)})
    EXPECT_TRUE(Is(o, OUTCOME_FAILED, DISK_NO_SUCH_DISK));

  // A failed write reports the handle's reason.
  FakeReset();
  At(0, 0x1234ABCD);
  ui.fields[IDC_DISK] = "0";
  ui.fields[IDC_NEWSIG] = "3";
  ui.answers = {ANSWER_YES};
  g_fake.fail_op = "write";
  EXPECT_TRUE(Is(CommandWrite(&session), OUTCOME_FAILED, DISK_IO_ERROR));
}

TEST_F(Commands, MessageBoxFCutsAt2047Bytes) {
  std::string long_text(3000, 'x');
  MessageBoxF(ui.dialog(), 0, kTitle, "%s", long_text.c_str());
  EXPECT_EQ(Last().size(), 2047u);
  MessageBoxF(ui.dialog(), 0, kTitle, "%d/%s", 12, "ab");
  EXPECT_EQ(Last(), "12/ab");
}

TEST(Parsing, DialogIntLikeGetDlgItemInt) {
  int ok = 0;
  EXPECT_EQ(ParseDialogInt("42", &ok), 42u);
  EXPECT_EQ(ok, 1);
  for (const char *bad : {"", "abc", "4x", "-1", "99999999999", " "}) {
    ParseDialogInt(bad, &ok);
    EXPECT_EQ(ok, 0) << bad;
  }
}

TEST(Parsing, RoundSizeTiesAwayFromZero) {
  EXPECT_EQ(RoundSize(2.5), 3.0);
  EXPECT_EQ(RoundSize(3.5), 4.0);
  EXPECT_EQ(RoundSize(0.49999999999999994), 0.0);
  EXPECT_EQ(RoundSize(62.75), 63.0);
}

} // namespace
