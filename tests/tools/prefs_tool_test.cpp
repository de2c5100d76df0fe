#include "tools/prefs_tool.h"

#include <gtest/gtest.h>

#include <sstream>

#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun Tool(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunPrefsTool(args, out, err);
  return {status, out.str(), err.str()};
}

TEST(PrefsToolTest, ShowsEverySectionDecodedAndControlBytesEscaped) {
  TempDir dir;
  const auto file = (dir / "prefs.dll").string();
  IniStore store;
  store.WriteINI("Preferences", "Nickname", "Bob", file);
  store.WriteINI("Preferences", "Connection", "7", file);
  store.WriteINI("Shared", "Directories", "/srv/a/|/srv/b/|", file);
  const std::string before = ReadFileBytes(file);
  const ToolRun run = Tool({file});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "[Preferences]\n"
            "Nickname=Bob\n"
            "Connection=7\n"
            "\n"
            "[Shared]\n"
            "Directories=/srv/a/|/srv/b/|\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFileBytes(file), before);
  // Control bytes are shown escaped.
  store.WriteINI("S", "K", std::string("a\nb\\c\x01", 6), file);
  EXPECT_EQ(Tool({file}).out, run.out + "\n[S]\nK=a\\x0Ab\\\\c\\x01\n");
}

TEST(PrefsToolTest, SetThenGetAndClearErrors) {
  TempDir dir;
  const auto file = (dir / "prefs.dll").string();
  EXPECT_EQ(Tool({file, "set", "Preferences", "Nickname", "Bob"}).status, 0);
  EXPECT_EQ(ReadFileBytes(file),
            "[507265666572656E636573]\r\n"
            "4E69636B6E616D65=4845330D4F030000000300420262026F010D19\r\n");
  ToolRun run = Tool({file, "get", "Preferences", "Nickname"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Bob\n");

  const auto missing = (dir / "absent.dll").string();
  run = Tool({missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvex-prefs: " + missing + ": no such file\n");
  EXPECT_FALSE(std::filesystem::exists(missing));

  run = Tool({missing, "get", "Preferences", "Nickname"});
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(std::filesystem::exists(missing));

  WriteFileBytes(file,
                 "[507265666572656E636573]\r\n"
                 "4E69636B6E616D65=4845330D610300000003006102620263010D0D\r\n"
                 "zz=4845300D31\r\n");
  run = Tool({file, "get", "Preferences", "Nickname"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvex-prefs: " + file +
                         ": [Preferences] Nickname: damaged value: The data might be corrupted "
                         "(checksum did not match expected value)\n");
  run = Tool({file, "get", "Preferences", "Connection"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zorvex-prefs: " + file + ": no value for [Preferences] Connection\n");

  run = Tool({file});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "[Preferences]\nNickname=<damaged>\n<zz>=1\n");

  EXPECT_EQ(Tool({}).status, 2);
  EXPECT_EQ(Tool({file, "get", "Preferences"}).status, 2);
  EXPECT_EQ(Tool({file, "set", "Preferences", "Nickname", ""}).status, 2);
  EXPECT_EQ(Tool({dir.path().string()}).status, 1);
}

}  // namespace
}  // namespace zorvex
