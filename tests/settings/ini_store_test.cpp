#include "settings/ini_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "settings/huffman.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

std::string EnHexOfContainer(const std::string& value) {
  Huffman codec;
  return codec.EncodeString(value, true);
}

class IniStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  const std::filesystem::path file = dir / "prefs.dll";
  IniStore store;
};

TEST_F(IniStoreTest, NicknameBobIsStoredAsTheKnownLines) {
  store.WriteINI("Preferences", "Nickname", "Bob", file);
  EXPECT_EQ(ReadFileBytes(file),
            "[507265666572656E636573]\r\n"
            "4E69636B6E616D65=4845330D4F030000000300420262026F010D19\r\n");
  EXPECT_EQ(store.ReadINI("Preferences", "Nickname", file), "Bob");
}

TEST_F(IniStoreTest, OneCharacterValueIsStoredPlain) {
  store.WriteINI("Preferences", "Connection", "1", file);
  store.WriteINI("Shared", "Directories", "/home/a/|", file);
  store.WriteINI("Preferences", "MaxULs", "3", file);
  EXPECT_EQ(ReadFileBytes(file),
            "[507265666572656E636573]\r\n"
            "436F6E6E656374696F6E=4845300D31\r\n"
            "4D6178554C73=4845300D33\r\n"
            "[536861726564]\r\n"
            "4469726563746F72696573=" +
                EnHexOfContainer("/home/a/|") + "\r\n");
}

TEST_F(IniStoreTest, RewritingAKeyReplacesItsLineInPlaceAndAddingEndsTheLastLine) {
  WriteFileBytes(file,
                 "; kept comment\n"
                 "[4F74686572]\n"
                 "4B=4845300D31\n"
                 "\n"
                 "[507265666572656E636573]\n"
                 "4E69636B6E616D65 = 4845300D41\n"
                 "\n");
  EXPECT_EQ(store.ReadINI("Preferences", "Nickname", file), "A");
  store.WriteINI("Preferences", "Nickname", "Z", file);
  store.WriteINI("Other", "New", "2", file);
  EXPECT_EQ(ReadFileBytes(file),
            "; kept comment\n"
            "[4F74686572]\n"
            "4B=4845300D31\n"
            "4E6577=4845300D32\r\n"
            "\n"
            "[507265666572656E636573]\n"
            "4E69636B6E616D65=4845300D5A\n"
            "\n");
  // A file without a final new line gets one before new lines.
  WriteFileBytes(file, "[41]\r\n42=4845300D31");
  store.WriteINI("A", "C", "2", file);
  EXPECT_EQ(ReadFileBytes(file), "[41]\r\n42=4845300D31\r\n43=4845300D32\r\n");
}

TEST_F(IniStoreTest, NamesMatchInEitherCaseTheFirstSectionWinsAndBadValuesReadAsEmpty) {
  EXPECT_EQ(store.ReadINI("Preferences", "Nickname", file), "");  // no file yet
  WriteFileBytes(file,
                 "[507265666572656e636573]\r\n"
                 "4e69636b6e616d65=4845300d61\r\n"
                 "[507265666572656E636573]\r\n"
                 "4E69636B6E616D65=4845300D62\r\n");
  EXPECT_EQ(store.ReadINI("Preferences", "Nickname", file), "a");
  const auto sections = store.RawSections(file);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].entries.size(), 1u);

  WriteFileBytes(file,
                 "[53]\r\n"
                 "4E6F74486578=XYZ\r\n"
                 "436F7272757074=4845330D610300000003006102620263010D0D\r\n"
                 "5368616B79=4845\r\n"
                 "456D707479=\r\n");
  for (const char* key : {"NotHex", "Corrupt", "Shaky", "Empty", "Never", ""})
    EXPECT_EQ(store.ReadINI("S", key, file), "") << key;
  EXPECT_EQ(store.ReadINI("", "Never", file), "");
  EXPECT_EQ(store.ReadINI("S", "NotHex", ""), "");
}

TEST_F(IniStoreTest, EmptyArgumentsWriteNothing) {
  store.WriteINI("Shared", "Directories", "/a/|", file);
  const std::string before = ReadFileBytes(file);
  store.WriteINI("Shared", "Directories", "", file);
  store.WriteINI("", "Directories", "x", file);
  store.WriteINI("Shared", "", "x", file);
  store.WriteINI("Shared", "Directories", "x", "");
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(store.ReadINI("Shared", "Directories", file), "/a/|");
}

TEST_F(IniStoreTest, ValuesRoundTripUpToTheReadLimitAndNotBeyond) {
  std::mt19937 random(11);
  int checked = 0;
  for (int alphabet : {1, 2, 5, 16, 64, 255}) {
    for (std::size_t length = 1;; length += 1 + length / 8) {
      std::string value(length, '\0');
      for (auto& c : value)
        c = static_cast<char>(1 + random() % alphabet);
      const std::size_t stored = 2 * HuffmanEncode(value).size();
      if (stored > kIniReadLimit) break;
      store.WriteINI("Values", "V" + std::to_string(alphabet), value, file);
      IniStore fresh;
      ASSERT_EQ(fresh.ReadINI("Values", "V" + std::to_string(alphabet), file), value)
          << "alphabet " << alphabet << " length " << length;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);

  // Beyond the limit a value reads as empty.
  std::string value;
  for (int i = 0; i < 300; ++i)
    value += "10.0." + std::to_string(i) + ".1|";
  ASSERT_GT(2 * HuffmanEncode(value).size(), kIniReadLimit);
  store.WriteINI("Cache", "Cache", value, file);
  EXPECT_EQ(store.ReadINI("Cache", "Cache", file), "");
}

TEST_F(IniStoreTest, DoubledSeparatorsNameTheSameFileAndChangesOnDiskAreSeen) {
  store.WriteINI("A", "B", "value", dir.path().string() + "//prefs.dll");
  EXPECT_EQ(store.ReadINI("A", "B", file), "value");
  EXPECT_TRUE(std::filesystem::exists(file));

  // Changes made on disk by others are seen.
  IniStore reader;
  IniStore writer;
  writer.WriteINI("A", "B", "first", file);
  EXPECT_EQ(reader.ReadINI("A", "B", file), "first");
  writer.WriteINI("A", "B", "second", file);
  EXPECT_EQ(reader.ReadINI("A", "B", file), "second");
  // The file vanishes, then comes back.
  const std::string bytes = ReadFileBytes(file);
  std::filesystem::remove(file);
  EXPECT_EQ(reader.ReadINI("A", "B", file), "");
  WriteFileBytes(file, bytes);
  EXPECT_EQ(reader.ReadINI("A", "B", file), "second");
}

TEST_F(IniStoreTest, WritesLeaveNoTemporaryFiles) {
  for (int i = 0; i < 20; ++i)
    store.WriteINI("S", "K" + std::to_string(i), "v", file);
  const std::filesystem::directory_iterator files(dir.path());
  EXPECT_EQ(std::distance(begin(files), end(files)), 1);
}

TEST_F(IniStoreTest, AFailedWriteIsNotKeptAndNothingBreaks) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const auto folder = dir / "locked";
  std::filesystem::create_directory(folder);
  store.WriteINI("A", "B", "kept", folder / "prefs.dll");
  ::chmod(folder.c_str(), 0500);
  store.WriteINI("A", "B", "lost", folder / "prefs.dll");
  EXPECT_EQ(store.ReadINI("A", "B", folder / "prefs.dll"), "kept");
  ::chmod(folder.c_str(), 0700);
}

TEST_F(IniStoreTest, AFolderThatCannotHoldTheFileKeepsNothing) {
  const auto missing = dir / "missing-folder" / "prefs.dll";
  store.WriteINI("A", "B", "lost", missing);
  EXPECT_EQ(store.ReadINI("A", "B", missing), "");
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(IniStoreTest, BatchedWritesReachTheFileOnceAtTheEnd) {
  const auto database = dir / "FileDatabase.dll";
  {
    IniStore::Batch batch(store, database);
    for (int i = 0; i < 500; ++i) {
      store.WriteINI("/music/song" + std::to_string(i) + ".mp3", "4096",
                     "0123456789ABCDEF0123456789ABCDEF", database);
    }
    EXPECT_FALSE(std::filesystem::exists(database));
    EXPECT_EQ(store.ReadINI("/music/song7.mp3", "4096", database),
              "0123456789ABCDEF0123456789ABCDEF");
  }
  IniStore fresh;
  EXPECT_EQ(fresh.ReadINI("/music/song499.mp3", "4096", database),
            "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(fresh.RawSections(database).size(), 500u);
}

}  // namespace
}  // namespace zorvex
