#pragma once
// The settings dialog, which is also the first-run wizard: six pages shown one at a time, the
// gateway panel, and the buttons Next/Finish, Back, Close and Apply. Each page is checked before
// the user may leave it; nothing is saved before Finish or Apply.

#include <filesystem>
#include <functional>

#include <QDialog>

#include "node/node_observer.h"
#include "settings/preferences.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPushButton;
class QStackedWidget;

namespace zorvex::ui {

// Desktop duties of saving: the URL handler and the autostart entry. Empty: nothing.
struct DesktopHooks {
  std::function<void()> register_url_protocol;
  std::function<void(bool on)> set_start_with_desktop;
};

inline constexpr int kHostsPanel = 6;

class SettingsDialog final : public QDialog {
 public:
  SettingsDialog(NodeEvents& events, std::filesystem::path home, DesktopHooks hooks,
                 QWidget* parent = nullptr);

  void ShowPage(int page);
  bool ValidateCurrentPage();
  int current_page() const { return current_page_; }
  bool wizard() const { return wizard_; }

  // Tests stand in for the folder picker and the input box.
  void SetFolderPicker(std::function<QString()> picker) { pick_folder_ = std::move(picker); }
  void SetInputBox(std::function<QString(const QString& prompt)> ask) { ask_ = std::move(ask); }
  // The last message box the dialog opened (it closes itself).
  QMessageBox* last_message() const { return last_message_; }

  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildWelcome();
  QWidget* BuildUploads();
  QWidget* BuildShares();
  QWidget* BuildDownloads();
  QWidget* BuildOther();
  QWidget* BuildComplete();
  QWidget* BuildHosts();
  SettingsValues Values() const;
  void Fill(const SettingsValues& values);
  void Next();
  void Back();
  void Apply();
  void Save();
  void AddFolder();
  void ChangeDownloadFolder();
  void AddHost();
  bool IsShared(const QString& folder) const;
  void Message(const QString& text, const QString& title, QWidget* focus);
  QString PickFolder();

  NodeEvents& events_;
  Node& node_;
  std::filesystem::path home_;
  DesktopHooks hooks_;
  bool wizard_ = false;
  int current_page_ = 0;
  bool hosts_open_ = false;
  bool shares_changed_ = false;
  std::function<QString()> pick_folder_;
  std::function<QString(const QString&)> ask_;
  QMessageBox* last_message_ = nullptr;

  QLabel* topic_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QPushButton* buttons_[4] = {};
  QLineEdit* nickname_ = nullptr;
  QComboBox* connection_ = nullptr;
  QLineEdit* max_uls_ = nullptr;
  QLineEdit* max_per_user_ = nullptr;
  QLineEdit* upload_limit_ = nullptr;
  QListWidget* shares_ = nullptr;
  QPushButton* add_folder_ = nullptr;
  QPushButton* remove_folder_ = nullptr;
  QLineEdit* download_dir_ = nullptr;
  QLineEdit* download_port_ = nullptr;
  QLineEdit* download_limit_ = nullptr;
  QLineEdit* sources_at_once_ = nullptr;
  QCheckBox* with_desktop_ = nullptr;
  QListWidget* hosts_ = nullptr;
  QPushButton* remove_host_ = nullptr;
};

}  // namespace zorvex::ui
