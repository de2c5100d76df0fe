#include "settings/desktop_integration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zorvex {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr char kProgram[] = "/opt/zorvex/bin/zorvex";

constexpr char kAutostartOn[] =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Version=1.5\n"
    "Name=Zorvex\n"
    "Comment=Peer-to-peer file sharing\n"
    "Exec=\"/opt/zorvex/bin/zorvex\"\n"
    "Terminal=false\n"
    "X-GNOME-Autostart-enabled=true\n";

constexpr char kAutostartOff[] =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Version=1.5\n"
    "Name=Zorvex\n"
    "Comment=Peer-to-peer file sharing\n"
    "Hidden=true\n"
    "X-GNOME-Autostart-enabled=false\n";

constexpr char kZxHandler[] =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Version=1.5\n"
    "Name=Zorvex Protocol\n"
    "Exec=\"/opt/zorvex/bin/zorvex\" %u\n"
    "Terminal=false\n"
    "NoDisplay=true\n"
    "MimeType=x-scheme-handler/zx;\n";

// The value of the first `key=` line of a file.
std::string LineValue(const std::string& text, const std::string& key) {
  const auto start = text.find("\n" + key + "=");
  if (start == std::string::npos) return "<missing>";
  const auto from = start + key.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& item : fs::directory_iterator(folder))
    names.insert(item.path().filename().string());
  return names;
}

unsigned Mode(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

class DesktopIntegrationTest : public ::testing::Test {
 protected:
  DesktopIntegrationTest() {
    env_.config_home = dir_ / "config";
    env_.data_home = dir_ / "data";
    env_.program_path = kProgram;
  }

  fs::path Autostart() const { return env_.config_home / "autostart" / "zorvex.desktop"; }
  fs::path ZxHandler() const { return env_.data_home / "applications" / "zorvex-zx.desktop"; }
  fs::path MimeApps() const { return env_.config_home / "mimeapps.list"; }

  TempDir dir_;
  DesktopEnvironment env_;
};

// On writes the entry in new private folders; off leaves a hidden entry with nothing to run; off
// needs no program, and masks system entries.
TEST_F(DesktopIntegrationTest, AutostartOnOffAndOnAgainThenOffWithoutAProgram) {
  EXPECT_FALSE(StartsWithDesktop(env_));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(SetStartWithDesktop(env_, true));
    EXPECT_EQ(ReadFileBytes(Autostart()), kAutostartOn);
    EXPECT_TRUE(StartsWithDesktop(env_));
    EXPECT_EQ(Mode(env_.config_home), 0700u);
    EXPECT_EQ(Mode(Autostart().parent_path()), 0700u);
    EXPECT_EQ(Mode(Autostart()), 0644u);
    EXPECT_EQ(Names(Autostart().parent_path()), std::set<std::string>{"zorvex.desktop"});
    ASSERT_TRUE(SetStartWithDesktop(env_, false));
    const std::string off = ReadFileBytes(Autostart());
    EXPECT_EQ(off, kAutostartOff);
    EXPECT_EQ(off.find("Exec"), std::string::npos);
    EXPECT_FALSE(StartsWithDesktop(env_));
    EXPECT_EQ(Names(Autostart().parent_path()), std::set<std::string>{"zorvex.desktop"});
  }
  fs::remove(Autostart());
  env_.program_path.clear();
  EXPECT_FALSE(SetStartWithDesktop(env_, true));
  EXPECT_FALSE(fs::exists(Autostart()));
  ASSERT_TRUE(SetStartWithDesktop(env_, false));
  EXPECT_EQ(ReadFileBytes(Autostart()), kAutostartOff);
}

TEST_F(DesktopIntegrationTest, StartsWithDesktopHonoursHandEditedFlags) {
  const std::string base = kAutostartOn;
  const auto check = [&](const std::string& text) {
    WriteFileBytes(Autostart(), text);
    return StartsWithDesktop(env_);
  };
  ASSERT_TRUE(SetStartWithDesktop(env_, true));
  EXPECT_FALSE(check(base + "Hidden=true\n"));
  EXPECT_FALSE(check(base + "Hidden = true\n"));
  EXPECT_FALSE(check(base + "Hidden=1\n"));
  EXPECT_TRUE(check(base + "Hidden=false\n"));
  EXPECT_FALSE(check(base + "X-GNOME-Autostart-enabled=false\n"));
  EXPECT_TRUE(check("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n" +
                    base.substr(base.find('\n') + 1)));
  EXPECT_TRUE(check(base + "[Desktop Action x]\nHidden=true\n"));
  EXPECT_FALSE(check("[Other]\nType=Application\nExec=zorvex\n"));
  EXPECT_FALSE(check("[Desktop Entry]\nType=Link\nExec=zorvex\n"));
  EXPECT_FALSE(check("[Desktop Entry]\nType=Application\nExec=\n"));
  EXPECT_FALSE(check(""));
}

// Registering again repairs a moved program without duplicates.
TEST_F(DesktopIntegrationTest, RegisterUrlProtocolWritesHandlerAndMimeAppsListThenRepairs) {
  ASSERT_TRUE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
  EXPECT_EQ(ReadFileBytes(ZxHandler()), kZxHandler);
  const std::string list = ReadFileBytes(MimeApps());
  EXPECT_EQ(list, "[Default Applications]\nx-scheme-handler/zx=zorvex-zx.desktop\n");
  EXPECT_EQ(Mode(env_.data_home / "applications"), 0700u);

  env_.program_path = "/home/u/Apps/zorvex";
  ASSERT_TRUE(RegisterUrlProtocol(env_, "Zorvex Protocol", "ZX"));
  EXPECT_EQ(LineValue(ReadFileBytes(ZxHandler()), "Exec"), "\"/home/u/Apps/zorvex\" %u");
  EXPECT_EQ(ReadFileBytes(MimeApps()), list);
  EXPECT_EQ(Names(env_.data_home / "applications"), std::set<std::string>{"zorvex-zx.desktop"});

  ASSERT_TRUE(RegisterUrlProtocol(env_, " Back\\slash", "zx"));
  EXPECT_EQ(LineValue(ReadFileBytes(ZxHandler()), "Name"), "\\sBack\\\\slash");
}

// Other lines stay and an old handler is replaced; a missing line goes into its group, a
// missing group at the end.
TEST_F(DesktopIntegrationTest, MimeAppsEditKeepsOtherLinesAndAddsLineOrGroup) {
  fs::create_directories(env_.config_home);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"# kept by hand\n"
       "[Default Applications]\n"
       "text/html=firefox.desktop\n"
       "X-Scheme-Handler/ZX = other-zx.desktop;\n"
       "x-scheme-handler/zxy=keep.desktop\n"
       "image/png=eog.desktop\n"
       "\n"
       "[Added Associations]\n"
       "x-scheme-handler/zx=other-zx.desktop;\n"
       "text/plain=gedit.desktop;\n"
       "\n"
       "[Default Applications]\n"
       "x-scheme-handler/zx=later-wins.desktop\n"
       "[Removed Associations]\n"
       "application/pdf=evince.desktop;\n",
       "# kept by hand\n"
       "[Default Applications]\n"
       "text/html=firefox.desktop\n"
       "x-scheme-handler/zx=zorvex-zx.desktop\n"
       "x-scheme-handler/zxy=keep.desktop\n"
       "image/png=eog.desktop\n"
       "\n"
       "[Added Associations]\n"
       "x-scheme-handler/zx=other-zx.desktop;\n"
       "text/plain=gedit.desktop;\n"
       "\n"
       "[Default Applications]\n"
       "[Removed Associations]\n"
       "application/pdf=evince.desktop;\n"},
      {"[Default Applications]\n"
       "text/html=firefox.desktop\n"
       "\n"
       "[Added Associations]\n"
       "a/b=c.desktop;\n",
       "[Default Applications]\n"
       "text/html=firefox.desktop\n"
       "x-scheme-handler/zx=zorvex-zx.desktop\n"
       "\n"
       "[Added Associations]\n"
       "a/b=c.desktop;\n"},
      {"[Added Associations]\n"
       "text/plain=gedit.desktop;",
       "[Added Associations]\n"
       "text/plain=gedit.desktop;\n"
       "\n"
       "[Default Applications]\n"
       "x-scheme-handler/zx=zorvex-zx.desktop\n"},
      {"[Default Applications]\n",
       "[Default Applications]\nx-scheme-handler/zx=zorvex-zx.desktop\n"},
      {"", "[Default Applications]\nx-scheme-handler/zx=zorvex-zx.desktop\n"},
  };
  for (const auto& [before, after] : cases) {
    WriteFileBytes(MimeApps(), before);
    ASSERT_TRUE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
    EXPECT_EQ(ReadFileBytes(MimeApps()), after) << "from:\n" << before;
  }
}

TEST_F(DesktopIntegrationTest, MimeAppsSymlinkIsWrittenThroughKeepingItsMode) {
  fs::create_directories(env_.config_home);
  const fs::path real = dir_ / "dotfiles" / "mimeapps.list";
  fs::create_directories(real.parent_path());
  WriteFileBytes(real, "[Default Applications]\n");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_symlink(real, MimeApps());
  ASSERT_TRUE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
  EXPECT_TRUE(fs::is_symlink(MimeApps()));
  EXPECT_EQ(ReadFileBytes(real), "[Default Applications]\nx-scheme-handler/zx=zorvex-zx.desktop\n");
  EXPECT_EQ(Mode(real), 0600u);
  EXPECT_EQ(Names(real.parent_path()), std::set<std::string>{"mimeapps.list"});
}

// Quoted for the Exec line: a double-quoted argument whose '"', '`', '$' and '\\' are
// backslash-escaped, then every '\\' doubled again by the file's string escapes and every '%'
// doubled; what cannot stand in the file is refused.
TEST(QuoteExecArgumentTest, EscapesBothLayers) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"/usr/bin/zorvex", R"("/usr/bin/zorvex")"},
      {"/opt/My Apps/zorvex", R"("/opt/My Apps/zorvex")"},
      {R"x(/opt/My "Apps"/a$b`c\d 100%/zorvex)x",
       R"x("/opt/My \\"Apps\\"/a\\$b\\`c\\\\d 100%%/zorvex")x"},
      {"/tmp/100%/%u/zorvex", R"("/tmp/100%%/%%u/zorvex")"},
      {"/tmp/it's ~ & | ; < > * ? # ( ) [x] =/zorvex",
       R"("/tmp/it's ~ & | ; < > * ? # ( ) [x] =/zorvex")"},
      {R"(/tmp/\\$`"%%\s/zorvex)", R"("/tmp/\\\\\\\\\\$\\`\\"%%%%\\\\s/zorvex")"},
      {"/tmp/\xe6\x97\xa5\xf0\x9f\x93\x81", "\"/tmp/\xe6\x97\xa5\xf0\x9f\x93\x81\""},
      {"/tmp/a\nb", std::nullopt},
      {"/tmp/a\tb", std::nullopt},
      {"/tmp/\xff", std::nullopt},
      {"/tmp/\xc0\xaf", std::nullopt},      // overlong '/'
      {"/tmp/\xed\xa0\x80", std::nullopt},  // surrogate
      {"/tmp/\xe6\x97", std::nullopt},      // cut short
  };
  for (const auto& [path, quoted] : cases)
    EXPECT_EQ(QuoteExecArgument(path), quoted) << path;
}

TEST_F(DesktopIntegrationTest, ProgramPathsNeedingQuotesReachBothEntries) {
  for (const std::string path :
       {"/opt/My Apps/zorvex", "/tmp/$HOME/`id`/zorvex", "/tmp/100%/%u/zorvex"}) {
    env_.program_path = path;
    ASSERT_TRUE(SetStartWithDesktop(env_, true)) << path;
    ASSERT_TRUE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx")) << path;
    EXPECT_TRUE(StartsWithDesktop(env_)) << path;
    EXPECT_EQ(LineValue(ReadFileBytes(Autostart()), "Exec"), *QuoteExecArgument(path));
    EXPECT_EQ(LineValue(ReadFileBytes(ZxHandler()), "Exec"), *QuoteExecArgument(path) + " %u");
  }
}

TEST_F(DesktopIntegrationTest, UnrepresentableOrRelativeInputsWriteNothing) {
  env_.program_path = "/tmp/line\nbreak/zorvex";
  EXPECT_FALSE(SetStartWithDesktop(env_, true));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
  env_.program_path = "zorvex";
  EXPECT_FALSE(SetStartWithDesktop(env_, true));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
  env_.program_path = kProgram;
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", "../zx"));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", "1zx"));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", ""));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "", "zx"));
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Bad\nName", "zx"));
  EXPECT_FALSE(fs::exists(env_.config_home));
  EXPECT_FALSE(fs::exists(env_.data_home));

  env_.config_home = "relative/config";
  EXPECT_FALSE(SetStartWithDesktop(env_, false));
  EXPECT_FALSE(StartsWithDesktop(env_));
  EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(DesktopIntegrationTest, UnwritableDestinationsFailWithoutDebris) {
  // A file where a folder should be stops even root.
  WriteFileBytes(dir_ / "blocker", "x");
  DesktopEnvironment blocked{dir_ / "blocker", dir_ / "blocker" / "data", kProgram};
  EXPECT_FALSE(SetStartWithDesktop(blocked, true));
  EXPECT_FALSE(SetStartWithDesktop(blocked, false));
  EXPECT_FALSE(StartsWithDesktop(blocked));
  EXPECT_FALSE(RegisterUrlProtocol(blocked, "Zorvex Protocol", "zx"));
  EXPECT_EQ(ReadFileBytes(dir_ / "blocker"), "x");

  // A folder where the entry should be: the rename fails and the temporary file goes away.
  fs::create_directories(Autostart() / "inside");
  EXPECT_FALSE(SetStartWithDesktop(env_, true));
  EXPECT_FALSE(StartsWithDesktop(env_));
  EXPECT_EQ(Names(Autostart().parent_path()), std::set<std::string>{"zorvex.desktop"});

  // An unreadable mimeapps.list (a link to itself; root reads any plain file) is not replaced.
  fs::create_symlink("mimeapps.list", MimeApps());
  EXPECT_FALSE(RegisterUrlProtocol(env_, "Zorvex Protocol", "zx"));
  EXPECT_EQ(fs::read_symlink(MimeApps()), "mimeapps.list");
  EXPECT_EQ(Names(env_.config_home), (std::set<std::string>{"autostart", "mimeapps.list"}));
}

// Sets variables for one test and puts the old values back.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_)
      Put(name, value ? value->c_str() : nullptr);
  }
  void Set(const std::string& name, const char* value) {
    const char* old = std::getenv(name.c_str());
    if (!saved_.count(name)) saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    Put(name, value);
  }

 private:
  static void Put(const std::string& name, const char* value) {
    if (value) {
      ::setenv(name.c_str(), value, 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// XDG variables that are unset, empty or relative fall back to HOME's folders; the program's
// path is made absolute.
TEST(DesktopEnvironmentFromProcessTest, FollowsXdgVariablesWithHomeDefaults) {
  ScopedEnvironment vars;
  vars.Set("HOME", "/home/tester");
  const struct {
    const char* config;
    const char* data;
    std::string config_home;
    std::string data_home;
  } cases[] = {
      {nullptr, nullptr, "/home/tester/.config", "/home/tester/.local/share"},
      {"", "relative/data", "/home/tester/.config", "/home/tester/.local/share"},
      {"/xdg/config", "/xdg/data", "/xdg/config", "/xdg/data"},
  };
  for (const auto& c : cases) {
    vars.Set("XDG_CONFIG_HOME", c.config);
    vars.Set("XDG_DATA_HOME", c.data);
    const auto env = DesktopEnvironmentFromProcess("/usr/bin/zorvex");
    EXPECT_EQ(env.config_home, c.config_home) << c.config_home;
    EXPECT_EQ(env.data_home, c.data_home) << c.config_home;
    EXPECT_EQ(env.program_path, "/usr/bin/zorvex");
  }
  EXPECT_EQ(DesktopEnvironmentFromProcess("bin/../zorvex").program_path,
            fs::current_path() / "zorvex");
}

}  // namespace
}  // namespace zorvex
