#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "settings/ini_store.h"
#include "share/folder_scan.h"
#include "ui/settings_dialog.h"
#include "ui/startup.h"
#include "ui_fixture.h"

namespace zorvex {
namespace {

using testing::Find;
using testing::TempDir;

// A node that starts for the first time: nothing stored.
struct FreshNode {
  FreshNode() : world(5), host(world.CreateHost("10.0.0.1")) {
    node = std::make_unique<Node>(*host, NodeOptions{.home = home.path()});
    node->BindMessageSocket();
    node->LoadPreferences();
    events = std::make_unique<NodeEvents>(*node, *host);
  }
  SimWorld world;
  std::unique_ptr<SimHost> host;
  TempDir home;
  TempDir shared;
  std::unique_ptr<Node> node;
  std::unique_ptr<NodeEvents> events;
};

constexpr const char* kPerUserEmpty =
    "Please select a max amount of uploads per user.  Default is 1.";

QString Topic(ui::SettingsDialog& dialog) {
  return Find<QLabel>(&dialog, "lblTopicName")->text();
}

// Clicks Next; returns the message the page refused with, or "" when it passed.
QString Next(ui::SettingsDialog& dialog) {
  Find<QPushButton>(&dialog, "MainButtons0")->click();
  QMessageBox* box = dialog.last_message();
  if (!box) return {};
  const QString text = box->text();
  EXPECT_EQ(box->windowTitle(), "Settings Error!");
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  box->close();
  QCoreApplication::processEvents();
  return text;
}

// At the first start the wizard runs modally until the essentials are there.
TEST(SettingsWizardTest, RunsAtStartupRefusingEachInvalidPageThenFinishesIntoSavedPreferences) {
  FreshNode fresh;
  ASSERT_FALSE(fresh.node->MissingEssentials().empty());
  bool drove = false;
  QTimer::singleShot(0, [&] {
    auto* modal = dynamic_cast<ui::SettingsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(modal, nullptr);
    ui::SettingsDialog& wizard = *modal;
    wizard.SetFolderPicker([&] { return QString::fromStdString(fresh.shared.path().string()); });
    EXPECT_TRUE(wizard.wizard());
    EXPECT_EQ(Topic(wizard), "Welcome!");
    EXPECT_FALSE(Find<QPushButton>(&wizard, "MainButtons2")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(&wizard, "MainButtons3")->isVisible());
    drove = true;
    const struct {
      int page;
      const char* field;
      const char* value;
      const char* message;        // "" for a pass
      const char* focus = field;  // where a refusal puts the cursor
    } steps[] = {
        {0, "txtNickname", "abc", "Please select a nickname with 4 or more letters."},
        {0, "txtNickname", "ab|c", "You may not use these symbols in your nickname: | ~"},
        {0, "txtNickname", "abcd", ""},
        {1, "txtMaxPerUser", "", kPerUserEmpty},
        // The count of uploads is checked before the count per user.
        {1, "txtMaxULs", "11",
         "You must allow at least 1 upload and no more then 10.  Default is 3."},
        {1, "txtMaxULs", "10", kPerUserEmpty, "txtMaxPerUser"},
        {1, "txtMaxPerUser", "11",
         "You must allow at least one slot per person and no more then 10.  Default is 1."},
        {1, "txtMaxPerUser", "2", ""},
        {2, nullptr, nullptr, "You must share at least one folder with one file in it."},
        {3, "txtDLPort", "65537",
         "Your download port must be between port 1 and 65536.  Default is 0."},
        {3, "txtDLPort", "65536", ""},
        {4, nullptr, nullptr, "You must have at least one gateway to connect to."},
    };
    for (const auto& s : steps) {
      ASSERT_EQ(wizard.current_page(), s.page) << s.message;
      if (s.field) Find<QLineEdit>(&wizard, s.field)->setText(s.value);
      const QString message = Next(wizard);
      EXPECT_EQ(message, s.message) << "page " << s.page;
      if (*s.message && s.focus) {
        EXPECT_EQ(wizard.focusWidget(), Find<QLineEdit>(&wizard, s.focus));
      }
      if (s.page == 2 && *s.message) {
        Find<QPushButton>(&wizard, "btnAddFolder")->click();
        ASSERT_EQ(Find<QListWidget>(&wizard, "SharedFileList")->count(), 1);
        // The same folder again, in another letter case, is refused.
        wizard.SetFolderPicker(
            [&] { return QString::fromStdString(fresh.shared.path().string()).toUpper(); });
        Find<QPushButton>(&wizard, "btnAddFolder")->click();
        ASSERT_NE(wizard.last_message(), nullptr);
        EXPECT_EQ(wizard.last_message()->text(), "File is already being shared!");
        EXPECT_EQ(wizard.last_message()->windowTitle(), "Share Error!");
        wizard.last_message()->close();
        EXPECT_EQ(Find<QListWidget>(&wizard, "SharedFileList")->count(), 1);
        EXPECT_EQ(Next(wizard), "");
      }
      if (s.page == 3 && !*s.message) {
        // The only gateway removed on the panel: page 4 refuses until one is added again.
        Find<QPushButton>(&wizard, "btnModifyHosts")->click();
        auto* hosts = Find<QListWidget>(&wizard, "lvHosts");
        hosts->setCurrentRow(0);
        Find<QPushButton>(&wizard, "btnRemoveHost")->click();
        ASSERT_EQ(hosts->count(), 0);
        Find<QPushButton>(&wizard, "MainButtons1")->click();
      }
      if (s.page == 4) {
        QStringList answers = {QStringLiteral("Main"), QStringLiteral("gw.example/gateway.php")};
        wizard.SetInputBox([&](const QString&) { return answers.takeFirst(); });
        Find<QPushButton>(&wizard, "btnModifyHosts")->click();
        Find<QPushButton>(&wizard, "btnAddHost")->click();
        Find<QPushButton>(&wizard, "MainButtons1")->click();
        EXPECT_EQ(Next(wizard), "");
      }
    }
    EXPECT_EQ(Topic(wizard), "Complete!");
    EXPECT_EQ(Find<QPushButton>(&wizard, "MainButtons0")->text(), "&Finish");

    // Closing before finishing is refused.
    wizard.reject();
    ASSERT_NE(wizard.last_message(), nullptr);
    EXPECT_EQ(wizard.last_message()->text(), "You must complete setting up your options!");
    EXPECT_EQ(wizard.last_message()->windowTitle(), "Error!");
    wizard.last_message()->close();
    EXPECT_TRUE(wizard.isVisible());

    Find<QPushButton>(&wizard, "MainButtons0")->click();
    EXPECT_FALSE(wizard.isVisible());
  });
  EXPECT_TRUE(ui::CompleteSettings(*fresh.events, fresh.home.path(), {}));
  EXPECT_TRUE(drove);
  EXPECT_EQ(fresh.node->preferences().Nickname, "abcd");
  IniStore store;
  EXPECT_EQ(store.ReadINI("Preferences", "Nickname", fresh.home.path() / "prefs.dll"), "abcd");
}

// The limit fields are checked by the validator (tests/settings); here the dialog shows its
// message, keeps the cursor and stays open, then saves what passes and puts it in force at once.
TEST(SettingsDialogTest, RefusesWhatTheValidatorRefusesAppliesAtOnceAndAddsAGateway) {
  testing::DesktopNetwork d(2);
  d.net.world.SetDefaultLink({.bandwidth_bytes_per_s = 10'000'000});
  const SharedFile file = d.Share(1, "tune.mp3", 300'000);
  d.Run(60'000);
  {
    ui::SettingsDialog dialog(*d.events, d.net.nodes[0].home->path(), {});
    dialog.show();
    EXPECT_FALSE(dialog.wizard());
    EXPECT_EQ(Topic(dialog), "Uploads");
    EXPECT_FALSE(Find<QPushButton>(&dialog, "MainButtons1")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(&dialog, "MainButtons3")->isVisible());
    EXPECT_EQ(Find<QCheckBox>(&dialog, "chkWithWindows")->text(), "Start Zorvex when I log in");
    for (const char* name :
         {"txtMaxULs", "txtMaxPerUser", "txtUploadLimit", "txtDownloadLimit", "txtSourcesAtOnce"}) {
      auto* field = Find<QLineEdit>(&dialog, name);
      field->clear();
      QTest::keyClicks(field, "1a.0x");
      EXPECT_EQ(field->text(), "10") << name;
    }
    const struct {
      int page;
      const char* field;
      const char* message;
    } refusals[] = {
        {1, "txtUploadLimit",
         "Your upload limit must be between 0 and 1000000 KB/s.  Default is 0 (none)."},
        {3, "txtSourcesAtOnce",
         "You must allow at least 1 source and no more than 8 at once.  Default is 1."},
    };
    for (const auto& r : refusals) {
      dialog.ShowPage(r.page);
      auto* field = Find<QLineEdit>(&dialog, r.field);
      field->setText("1000001");
      Find<QPushButton>(&dialog, "MainButtons3")->click();
      ASSERT_NE(dialog.last_message(), nullptr) << r.field;
      EXPECT_EQ(dialog.last_message()->text(), r.message);
      EXPECT_EQ(dialog.focusWidget(), field);
      dialog.last_message()->close();
      EXPECT_TRUE(dialog.isVisible());
      field->setText("1");
    }
    const std::pair<const char*, const char*> values[] = {{"txtMaxULs", "7"},
                                                          {"txtMaxPerUser", "2"},
                                                          {"txtUploadLimit", "1000000"},
                                                          {"txtDownloadLimit", "50"},
                                                          {"txtSourcesAtOnce", "8"}};
    for (const auto& [name, value] : values)
      Find<QLineEdit>(&dialog, name)->setText(value);
    Find<QPushButton>(&dialog, "MainButtons3")->click();
    EXPECT_FALSE(dialog.isVisible());
  }
  const Preferences& prefs = d.net[0].preferences();
  EXPECT_EQ(prefs.MaxULs, 7);
  EXPECT_EQ(prefs.MaxULUsers, 2);
  EXPECT_EQ(prefs.UploadLimit, 1'000'000);
  EXPECT_EQ(prefs.DownloadLimit, 50);
  EXPECT_EQ(prefs.SourcesAtOnce, 8);
  ui::SettingsDialog again(*d.events, d.net.nodes[0].home->path(), {});
  EXPECT_EQ(Find<QLineEdit>(&again, "txtSourcesAtOnce")->text(), "8");
  // 300,000 bytes at 50 KB/s take about 6 seconds, not the 30 ms the link would allow.
  ASSERT_TRUE(
      d.net[0].transfers().StartDownload(file.file_name, file.size, file.hash, d.net.Address(1)));
  const std::string temporary = prefs.DLDir + "tune.mp3TMP";
  std::error_code ec;
  ASSERT_TRUE(
      d.RunUntil([&] { return std::filesystem::file_size(temporary, ec) > 0 && !ec; }, 60'000));
  const std::int64_t start = d.net.world.NowMs();
  const auto& rows = d.net[0].transfers().download_rows();
  ASSERT_TRUE(d.RunUntil([&] { return rows[0].status == "Finished"; }, 60'000));
  EXPECT_GE(d.net.world.NowMs() - start, 4'000);

  // The gateway panel; a folder added means a new scan after closing.
  EXPECT_FALSE(d.net[0].folder_scan().timer_active());
  testing::TempDir more;
  const auto database = d.net.nodes[0].home->path() / "FileDatabase.dll";
  testing::WriteFileBytes(database, "[x]\n");
  {
    ui::SettingsDialog dialog(*d.events, d.net.nodes[0].home->path(), {});
    dialog.show();
    QStringList answers = {QStringLiteral("Backup"), QStringLiteral("backup.example/gateway.php")};
    QStringList prompts;
    dialog.SetInputBox([&](const QString& prompt) {
      prompts << prompt;
      return answers.takeFirst();
    });
    for (int page = 1; page < 4; ++page) {
      if (page == 2) {
        dialog.SetFolderPicker([&] { return QString::fromStdString(more.path().string()); });
        Find<QPushButton>(&dialog, "btnAddFolder")->click();
      }
      ASSERT_EQ(Next(dialog), "") << page;
    }
    EXPECT_EQ(Topic(dialog), "Other Options");
    Find<QPushButton>(&dialog, "btnModifyHosts")->click();
    EXPECT_EQ(Topic(dialog), "Gateways");
    EXPECT_FALSE(Find<QPushButton>(&dialog, "MainButtons0")->isEnabled());
    auto* hosts = Find<QListWidget>(&dialog, "lvHosts");
    const int before = hosts->count();
    Find<QPushButton>(&dialog, "btnAddHost")->click();
    EXPECT_EQ(prompts, QStringList({"Please enter the name of the gateway below:",
                                    "Please enter the gateways address below."}));
    ASSERT_EQ(hosts->count(), before + 1);
    EXPECT_EQ(hosts->item(before)->text(), "Backup");
    Find<QPushButton>(&dialog, "MainButtons1")->click();
    EXPECT_EQ(Topic(dialog), "Other Options");
    EXPECT_TRUE(Find<QPushButton>(&dialog, "MainButtons0")->isEnabled());
    Find<QPushButton>(&dialog, "MainButtons3")->click();
    EXPECT_FALSE(dialog.isVisible());
  }
  // A folder was added: the hash database goes and a scan comes a second later.
  EXPECT_FALSE(std::filesystem::exists(database));
  EXPECT_TRUE(d.net[0].folder_scan().timer_active());
  EXPECT_EQ(d.net[0].folder_scan().interval(), 1000);
  IniStore store;
  EXPECT_NE(store.ReadINI("Hosts", "Addresses", d.net[0].PreferencesFile()).find("Backup*"),
            std::string::npos);
}

TEST(StartupTest, ABindFailureNamesTheOneTimeFix) {
  EXPECT_STREQ(ui::kBindFailureText, "Could not bind the program to port 620.");
  EXPECT_TRUE(
      ui::BindFailureHint(QStringLiteral("/usr/bin/zorvex"))
          .endsWith(QStringLiteral("sudo setcap cap_net_bind_service=+ep /usr/bin/zorvex")));
}

}  // namespace
}  // namespace zorvex
