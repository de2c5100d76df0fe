#include "ui/browser_pane.h"

#include <unistd.h>

#include <iostream>

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include "node/node.h"
#include "settings/ini_store.h"
#include "settings/preferences.h"
#include "ui/task_links.h"
#include "ui/text.h"

static void InitBrowserResources() {
  Q_INIT_RESOURCE(browser);
}

namespace zorvex::ui {
namespace {

constexpr PreferenceKey kHomePage{"Browser", "HomePage"};
constexpr PreferenceKey kChatSite{"Browser", "ChatSite"};
constexpr char kFavoritePrompt[] =
    "You may now modify the name of the favorite using the below blank.  The page will not be "
    "bookmarked unless there is a name for the favorite.";

const QString kLinkMark = QStringLiteral("zorvex-link:");

// The engine turns some client links (such as "zx://search|text") into no address at all, so
// every page hands a click on one to the client before the engine sees it.
QWebEngineScript LinkScript() {
  QWebEngineScript script;
  script.setName(QStringLiteral("zorvex-links"));
  script.setInjectionPoint(QWebEngineScript::DocumentCreation);
  script.setWorldId(QWebEngineScript::MainWorld);
  script.setRunsOnSubFrames(true);
  script.setSourceCode(QStringLiteral(R"(
document.addEventListener('click', function (event) {
  var node = event.target;
  while (node && !(node.tagName === 'A' && node.hasAttribute('href'))) node = node.parentElement;
  if (!node) return;
  var href = node.getAttribute('href');
  if (!/^(zx|zorvex):/i.test(href)) return;
  event.preventDefault();
  event.stopPropagation();
  console.log('zorvex-link:' + href);
}, true);
)"));
  return script;
}

bool IsClientLink(const QUrl& url) {
  return url.scheme() == QStringLiteral("zx") || url.scheme() == QStringLiteral("zorvex");
}

QUrl EngineUrl(const QString& address) {
  if (address == QStringLiteral("about: blank")) return QUrl(QStringLiteral("about:blank"));
  const QUrl url(address);
  if (url.isValid() && !url.scheme().isEmpty()) return url;
  return QUrl::fromUserInput(address);
}

// Client links never load: a page's request for one (an image, a frame, a script) fails, and
// only a click reported below may run it.
class ClientLinkHandler final : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
  void requestStarted(QWebEngineUrlRequestJob* job) override {
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
  }
};

class WebControl;

class WebPage final : public QWebEnginePage {
 public:
  WebPage(QWebEngineProfile* profile, BrowserEvents& events, QObject* parent)
      : QWebEnginePage(profile, parent), events_(events) {}
  QWebEnginePage* createWindow(WebWindowType) override;
  // Clicks on client links, reported by the page script below.
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                const QString&) override {
    if (message.startsWith(kLinkMark))
      Offer(QUrl::fromPercentEncoding(message.mid(kLinkMark.size()).toUtf8()));
  }
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
    if (!IsClientLink(url) || url.toString().isEmpty()) return true;
    Offer(QUrl::fromPercentEncoding(url.toEncoded()));
    return false;
  }

 private:
  // Any page's script can fake a click, so only the program's own pages run client links; a
  // link in a page from the network is shown for the user to run from the address box.
  void Offer(const QString& link) {
    if (url().scheme() == QStringLiteral("qrc")) {
      if (events_.link) events_.link(link);
    } else if (events_.status) {
      events_.status(QStringLiteral("Type this link in the address box to run it: ") + link);
    }
  }

  BrowserEvents& events_;
};

QWebEngineProfile* Profile() {
  static QWebEngineProfile* profile = [] {
    auto* p = new QWebEngineProfile(qApp);
    auto* handler = new ClientLinkHandler(p);
    p->installUrlSchemeHandler("zx", handler);
    p->installUrlSchemeHandler("zorvex", handler);
    p->scripts()->insert(LinkScript());
    return p;
  }();
  return profile;
}

class WebControl final : public BrowserControl {
 public:
  explicit WebControl(BrowserEvents events) : events_(std::move(events)) {
    view_ = new QWebEngineView;
    page_ = new WebPage(Profile(), events_, view_);
    view_->setPage(page_);
    QObject::connect(page_, &QWebEnginePage::titleChanged, view_, [this](const QString& title) {
      if (events_.title) events_.title(title);
    });
    QObject::connect(page_, &QWebEnginePage::loadFinished, view_, [this](bool) {
      if (events_.complete) events_.complete();
    });
    QObject::connect(page_, &QWebEnginePage::windowCloseRequested, view_, [this] {
      if (events_.closing) events_.closing();
    });
    QObject::connect(page_, &QWebEnginePage::linkHovered, view_, [this](const QString& url) {
      if (events_.status) events_.status(url);
    });
    QObject::connect(page_, &QWebEnginePage::loadProgress, view_, [this](int value) {
      if (events_.progress) events_.progress(value, 100);
    });
  }
  ~WebControl() override { delete view_; }

  QWidget* widget() override { return view_; }
  void Navigate(const QString& address) override { page_->load(EngineUrl(address)); }
  void Stop() override { page_->triggerAction(QWebEnginePage::Stop); }
  QString Address() const override { return page_->url().toString(); }
  QString Title() const override { return page_->title(); }
  void SetShown(bool shown) override {
    view_->setVisible(shown);
    if (shown) view_->setFocus();
  }
  void Back() override { page_->triggerAction(QWebEnginePage::Back); }
  void Forward() override { page_->triggerAction(QWebEnginePage::Forward); }
  void Refresh() override { page_->triggerAction(QWebEnginePage::Reload); }
  QWebEnginePage* page() const { return page_; }

 private:
  BrowserEvents events_;
  QWebEngineView* view_ = nullptr;
  WebPage* page_ = nullptr;
};

QWebEnginePage* WebPage::createWindow(WebWindowType) {
  if (!events_.new_window || !events_.control_of) return nullptr;
  auto* control = dynamic_cast<WebControl*>(events_.control_of(events_.new_window()));
  return control ? control->page() : nullptr;
}

class WebEngine final : public BrowserEngine {
 public:
  std::unique_ptr<BrowserControl> Create(BrowserEvents events) override {
    return std::make_unique<WebControl>(std::move(events));
  }
};

class StandInControl final : public BrowserControl {
 public:
  explicit StandInControl(BrowserEvents events) : events_(std::move(events)) {
    label_ = new QLabel;
  }
  ~StandInControl() override { delete label_; }
  QWidget* widget() override { return label_; }
  void Navigate(const QString& address) override {
    address_ = address;
    label_->setText(address);
    if (events_.complete) events_.complete();
  }
  void Stop() override {}
  QString Address() const override { return address_; }
  QString Title() const override { return label_->text(); }
  void SetShown(bool shown) override { label_->setVisible(shown); }
  void Back() override {}
  void Forward() override {}
  void Refresh() override {}

 private:
  BrowserEvents events_;
  QLabel* label_ = nullptr;
  QString address_;
};

class StandInEngine final : public BrowserEngine {
 public:
  std::unique_ptr<BrowserControl> Create(BrowserEvents events) override {
    return std::make_unique<StandInControl>(std::move(events));
  }
};

std::function<std::unique_ptr<BrowserEngine>()>& EngineFactory() {
  static std::function<std::unique_ptr<BrowserEngine>()> factory = MakeWebEngine;
  return factory;
}

}  // namespace

std::unique_ptr<BrowserEngine> MakeWebEngine() {
  return std::make_unique<WebEngine>();
}

std::unique_ptr<BrowserEngine> MakeStandInEngine() {
  return std::make_unique<StandInEngine>();
}

void SetBrowserEngineFactory(std::function<std::unique_ptr<BrowserEngine>()> factory) {
  EngineFactory() = std::move(factory);
}

void PrepareBrowserEngine() {
  for (const char* name : {"zx", "zorvex"}) {
    QWebEngineUrlScheme scheme(name);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::cerr << "zorvex: running as root, so the web browser runs without its sandbox\n";
  }
}

BrowserPane::BrowserPane(Node& node, QWidget* parent)
    : QWidget(parent), node_(node), engine_(EngineFactory()()) {
  InitBrowserResources();
  ask_favorite_name = [this](const QString& offered) {
    return QInputDialog::getText(this, QStringLiteral("Favorites"),
                                 QString::fromLatin1(kFavoritePrompt), QLineEdit::Normal, offered);
  };
  confirm = [this](const QString& question) {
    return QMessageBox::question(this, QStringLiteral("Favorites"), question,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  auto* toolbar = new QToolBar(this);
  toolbar->setObjectName(QStringLiteral("tbBrowser"));
  toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  struct Button {
    const char* name;
    QStyle::StandardPixmap icon;
    std::function<void()> run;
  };
  const Button buttons[] = {
      {"Back", QStyle::SP_ArrowBack,
       [this] {
         if (auto* c = current_control()) c->Back();
       }},
      {"Forward", QStyle::SP_ArrowForward,
       [this] {
         if (auto* c = current_control()) c->Forward();
       }},
      {"Stop", QStyle::SP_BrowserStop,
       [this] {
         if (auto* c = current_control()) c->Stop();
       }},
      {"Refresh", QStyle::SP_BrowserReload,
       [this] {
         if (auto* c = current_control()) c->Refresh();
       }},
      {"Home", QStyle::SP_DirHomeIcon, [this] { GoHome(); }},
      {"New Tab", QStyle::SP_FileDialogNewFolder, [this] { NewTab(); }},
      {"Close Tab", QStyle::SP_DialogCloseButton, [this] { tabs_->RemoveTab(); }},
  };
  for (const Button& button : buttons) {
    QAction* action = toolbar->addAction(style()->standardIcon(button.icon),
                                         QString::fromLatin1(button.name), this, button.run);
    action->setObjectName(QStringLiteral("tbBrowser") +
                          QString::fromLatin1(button.name).remove(u' '));
  }
  address_ = new QLineEdit(toolbar);
  address_->setObjectName(QStringLiteral("txtAddressBar"));
  connect(address_, &QLineEdit::returnPressed, this, [this] { Navigate(address_->text()); });
  toolbar->addWidget(address_);
  layout->addWidget(toolbar);

  auto* strip_row = new QHBoxLayout;
  strip_ = new QTabBar(this);
  strip_->setObjectName(QStringLiteral("TabStrip1"));
  strip_->setExpanding(false);
  strip_->setDrawBase(false);
  strip_->setContextMenuPolicy(Qt::CustomContextMenu);
  QFont mono = strip_->font();
  mono.setStyleHint(QFont::Monospace);
  mono.setFamily(QStringLiteral("monospace"));
  strip_->setFont(mono);
  auto* close = new QToolButton(this);
  close->setObjectName(QStringLiteral("btnTabClose"));
  close->setText(QStringLiteral("x"));
  close->setAutoRaise(true);
  connect(close, &QToolButton::clicked, this, [this] { tabs_->RemoveTab(); });
  strip_row->addWidget(strip_, 1);
  strip_row->addWidget(close);
  layout->addLayout(strip_row);
  connect(strip_, &QTabBar::tabBarClicked, this, [this](int index) {
    if (syncing_ || index < 0) return;
    if (!tabs_->tabs()[index].tag.isEmpty()) tabs_->ShowTab(index + 1);
  });
  connect(strip_, &QTabBar::currentChanged, this, [this](int index) {
    if (syncing_ || index < 0) return;
    if (!tabs_->tabs()[index].tag.isEmpty()) tabs_->ShowTab(index + 1);
  });
  tab_menu_ = new QMenu(this);
  tab_menu_->setObjectName(QStringLiteral("mnuTabBrowser"));
  tab_menu_->addAction(QStringLiteral("Close Tab"), this, [this] { tabs_->RemoveTab(); })
      ->setObjectName(QStringLiteral("mnuTabDelete"));
  tab_menu_->addSeparator();
  tab_menu_->addAction(QStringLiteral("Use This Page as Home Page"), this, [this] {
    if (auto* c = current_control()) SetHomeAddress(c->Address());
  });
  tab_menu_->addAction(QStringLiteral("Use the Start Page as Home Page"), this,
                       [this] { SetHomeAddress(QString::fromLatin1(kStartPageAddress)); });
  tab_menu_->addAction(QStringLiteral("Chat Site..."), this, [this] {
    bool ok = false;
    const QString site = QInputDialog::getText(
        this, QStringLiteral("Chat"), QStringLiteral("The site whose chat page the client shows:"),
        QLineEdit::Normal,
        FromBytes(node_.store().ReadINI(kChatSite.section, kChatSite.key, node_.PreferencesFile())),
        &ok);
    if (ok) SetChatSite(site);
  });
  connect(strip_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { tab_menu_->popup(strip_->mapToGlobal(at)); });

  views_ = new QStackedWidget(this);
  views_->setObjectName(QStringLiteral("wb"));
  layout->addWidget(views_, 1);

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("ProgressBar"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setMaximumHeight(10);
  progress_->setTextVisible(false);
  layout->addWidget(progress_);

  BrowserTabs::Hooks hooks;
  hooks.tabs_changed = [this] { SyncTabs(); };
  hooks.set_address = [this](const QString& text) { address_->setText(text); };
  hooks.reset_progress = [this] { progress_->setValue(0); };
  tabs_ = std::make_unique<BrowserTabs>(
      [this](int slot) -> std::unique_ptr<BrowserSlot> {
        std::unique_ptr<BrowserControl> control = engine_->Create(EventsFor(slot));
        views_->addWidget(control->widget());
        return control;
      },
      std::move(hooks));

  BrowserEvents chat_events;
  chat_events.progress = [this](int value, int maximum) { Progress(value, maximum); };
  chat_ = engine_->Create(std::move(chat_events));
  chat_->widget()->setObjectName(QStringLiteral("wbChat"));
  chat_->widget()->hide();

  favorites_section_ = BuildFavorites();
  tabs_->Start(HomeAddress());
  LoadFavorites();
}

BrowserPane::~BrowserPane() {
  tabs_.reset();
  chat_.reset();
}

BrowserEvents BrowserPane::EventsFor(int slot) {
  BrowserEvents events;
  events.title = [this, slot](const QString& title) { tabs_->TitleChanged(slot, title); };
  events.complete = [this, slot] {
    if (tabs_) tabs_->NavigationComplete(slot);
  };
  events.new_window = [this] { return tabs_->NewWindowRequested(); };
  events.control_of = [this](int index) {
    return static_cast<BrowserControl*>(tabs_->slot(index));
  };
  events.closing = [this, slot] {
    // Never inside the engine's own signal: the control may be destroyed.
    QMetaObject::invokeMethod(
        this, [this, slot] { tabs_->WindowClosing(slot); }, Qt::QueuedConnection);
  };
  events.status = [this](const QString& text) {
    if (on_status) on_status(text);
  };
  events.progress = [this](int value, int maximum) { Progress(value, maximum); };
  events.link = [this](const QString& link) {
    QMetaObject::invokeMethod(
        this,
        [this, link] {
          if (on_link) on_link(link);
        },
        Qt::QueuedConnection);
  };
  return events;
}

void BrowserPane::Progress(int value, int maximum) {
  if (!isVisible()) return;
  progress_->setMaximum(maximum);
  progress_->setValue(value);
}

BrowserControl* BrowserPane::current_control() const {
  return static_cast<BrowserControl*>(tabs_->current_browser());
}

void BrowserPane::SyncTabs() {
  syncing_ = true;
  const auto& tabs = tabs_->tabs();
  while (strip_->count() > static_cast<int>(tabs.size()))
    strip_->removeTab(strip_->count() - 1);
  while (strip_->count() < static_cast<int>(tabs.size()))
    strip_->addTab(QString());
  for (std::size_t i = 0; i < tabs.size(); ++i) {
    strip_->setTabText(static_cast<int>(i), tabs[i].caption);
    strip_->setTabData(static_cast<int>(i), tabs[i].tag);
  }
  if (tabs_->current() > 0) strip_->setCurrentIndex(tabs_->current() - 1);
  if (auto* control = current_control()) views_->setCurrentWidget(control->widget());
  syncing_ = false;
}

QString BrowserPane::HomeAddress() const {
  const std::string stored =
      node_.store().ReadINI(kHomePage.section, kHomePage.key, node_.PreferencesFile());
  return stored.empty() ? QString::fromLatin1(kStartPageAddress) : FromBytes(stored);
}

void BrowserPane::SetHomeAddress(const QString& address) {
  node_.store().WriteINI(kHomePage.section, kHomePage.key, ToBytes(address),
                         node_.PreferencesFile());
}

QString BrowserPane::ChatAddress() const {
  QString site =
      FromBytes(node_.store().ReadINI(kChatSite.section, kChatSite.key, node_.PreferencesFile()));
  if (site.isEmpty()) {
    const auto gateways = ParseGatewayList(node_.preferences().GatewayList);
    if (gateways.empty()) return {};
    site = FromBytes(gateways.front().address);
    if (const auto at = site.lastIndexOf(u'/'); at > 0 && !site.left(at).endsWith(u'/'))
      site = site.left(at);
  }
  while (site.endsWith(u'/'))
    site.chop(1);
  if (!site.contains(QStringLiteral("://"))) site.prepend(QStringLiteral("http://"));
  return site + QStringLiteral("/chat/index.php?&chatname=") +
         FromBytes(node_.preferences().Nickname);
}

void BrowserPane::SetChatSite(const QString& site) {
  node_.store().WriteINI(kChatSite.section, kChatSite.key, ToBytes(site), node_.PreferencesFile());
  LoadChat();
}

void BrowserPane::LoadChat() {
  if (const QString address = ChatAddress(); !address.isEmpty()) chat_->Navigate(address);
}

void BrowserPane::GoHome() {
  Navigate(HomeAddress());
}

void BrowserPane::NewTab() {
  tabs_->NewBrowserTab({});
}

void BrowserPane::Navigate(const QString& address) {
  // A client link typed into the address box or stored as a favorite runs here too.
  if (IsClientLink(QUrl(address.section(u':', 0, 0) + QStringLiteral(":")))) {
    if (on_link) on_link(address);
    return;
  }
  if (auto* control = current_control()) control->Navigate(address);
}

QGroupBox* BrowserPane::BuildFavorites() {
  auto* section = TaskSection(QStringLiteral("TaskFavorites"), QStringLiteral("Favorites"),
                              QStringLiteral("0"));
  auto* layout = static_cast<QVBoxLayout*>(section->layout());
  auto* add = TaskLink(QStringLiteral("TIFavs0"), QStringLiteral("Add to Favorites"), section);
  auto* remove = TaskLink(QStringLiteral("TIFavs1"), QStringLiteral("Remove Favorite"), section);
  connect(add, &QToolButton::clicked, this, [this] { AddFavorite(); });
  connect(remove, &QToolButton::clicked, this, [this] { RemoveFavorite(); });
  layout->addWidget(add);
  layout->addWidget(remove);
  auto* row = new QHBoxLayout;
  favorites_ = new QListWidget(section);
  favorites_->setObjectName(QStringLiteral("lstFavs"));
  favorites_->setContextMenuPolicy(Qt::CustomContextMenu);
  run_fav_ = new QToolButton(section);
  run_fav_->setObjectName(QStringLiteral("imgRunFav"));
  run_fav_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  run_fav_->setToolTip(QStringLiteral("Open the favorite"));
  run_fav_->setAutoRaise(true);
  row->addWidget(favorites_, 1);
  row->addWidget(run_fav_, 0, Qt::AlignTop);
  layout->addLayout(row);
  connect(run_fav_, &QToolButton::clicked, this, [this] { OpenFavorite(); });
  connect(favorites_, &QListWidget::itemDoubleClicked, this, [this] {
    if (run_fav_->isEnabled()) OpenFavorite();
  });
  connect(favorites_, &QListWidget::currentRowChanged, this, [this] { UpdateRunFav(); });
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("mnuFavs"));
  menu->addAction(QStringLiteral("Remove"), this, [this] { RemoveFavorite(); })
      ->setObjectName(QStringLiteral("mnuFavsRemove"));
  connect(favorites_, &QWidget::customContextMenuRequested, this,
          [this, menu](const QPoint& at) { menu->popup(favorites_->mapToGlobal(at)); });
  UpdateRunFav();
  return section;
}

void BrowserPane::UpdateRunFav() {
  const QListWidgetItem* item = favorites_->currentItem();
  run_fav_->setEnabled(item && !item->data(Qt::UserRole).toString().isEmpty());
}

void BrowserPane::AddFavorite() {
  BrowserControl* control = current_control();
  if (!control || control->Address().isEmpty()) return;
  const QString offered = FromBytes(CleanFavoriteName(ToBytes(control->Title())));
  const std::string name = CleanFavoriteName(ToBytes(ask_favorite_name(offered)));
  if (name.empty()) return;
  auto* item = new QListWidgetItem(FromBytes(name), favorites_);
  item->setData(Qt::UserRole, control->Address());
  SaveFavorites();
}

void BrowserPane::RemoveFavorite() {
  if (!confirm(QStringLiteral("Are you sure you wish to remove this favorite?"))) return;
  delete favorites_->currentItem();
  SaveFavorites();
  UpdateRunFav();
}

void BrowserPane::OpenFavorite() {
  if (const QListWidgetItem* item = favorites_->currentItem())
    Navigate(item->data(Qt::UserRole).toString());
}

void BrowserPane::SaveFavorites() {
  std::vector<Favorite> list;
  for (int i = 0; i < favorites_->count(); ++i) {
    list.push_back({ToBytes(favorites_->item(i)->text()),
                    ToBytes(favorites_->item(i)->data(Qt::UserRole).toString())});
  }
  // The store writes no empty value: the last removal leaves the old value stored.
  node_.store().WriteINI(keys::kFavorites.section, keys::kFavorites.key, FavoritesValue(list),
                         node_.PreferencesFile());
}

void BrowserPane::LoadFavorites() {
  favorites_->clear();
  for (const Favorite& entry : ParseFavorites(node_.store().ReadINI(
           keys::kFavorites.section, keys::kFavorites.key, node_.PreferencesFile()))) {
    auto* item = new QListWidgetItem(FromBytes(entry.name), favorites_);
    item->setData(Qt::UserRole, FromBytes(entry.address));
  }
  UpdateRunFav();
}

}  // namespace zorvex::ui
