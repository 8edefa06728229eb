#include "core/ConfigFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/TempDir.h"

namespace velloran {
namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  void WriteText(const std::string& text) {
    std::ofstream out(path_, std::ios::binary);
    out << text;
  }
  std::string ReadText() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("Velloran.ini");
};

TEST_F(ConfigFileTest, ReadsProfileConventions) {
  WriteText(
      "stray text before any section\r\n"
      "ignored=before section\r\n"
      "[EMail]\r\n"
      "SMTPServer=mail.example.org\r\n"
      "  Port  =  25 \r\n"
      "Empty=\r\n"
      "a line without equals sign\r\n"
      "Url=http://x/?a=b\r\n"
      "Quoted=\"a b\"\r\n"
      "[General]\n"
      "Dec=42\nNeg=-17\nHex=0x1F\nHEX2=0XfF\nDollar=$10\nAllBits=$FFFFFFFF\n"
      "Float=1.5\nText=abc\nTrailing=12abc\nBig=4294967296\nTooBig=2147483648\n"
      "On=1\nOff=0\nSeven=7\nWord=on\n");
  ConfigFile ini(path_);

  EXPECT_TRUE(ini.SectionExists("email"));
  EXPECT_FALSE(ini.SectionExists("Missing"));
  EXPECT_EQ(ini.ReadString("EMAIL", "smtpserver", "def"), "mail.example.org");
  EXPECT_EQ(ini.ReadString("EMail", "Port", "def"), "25");
  EXPECT_EQ(ini.ReadString("EMail", "Empty", "def"), "");
  EXPECT_TRUE(ini.ValueExists("EMail", "Empty"));
  EXPECT_EQ(ini.ReadString("EMail", "Absent", "def"), "def");
  EXPECT_FALSE(ini.ValueExists("EMail", "Absent"));
  EXPECT_EQ(ini.ReadString("EMail", "Url", ""), "http://x/?a=b");
  EXPECT_EQ(ini.ReadString("EMail", "Quoted", ""), "\"a b\"");
  EXPECT_EQ(ini.ReadString("EMail", "ignored", "def"), "def");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"EMail", "General"}));
  EXPECT_EQ(ini.ReadSectionKeys("email"),
            (std::vector<std::string>{"SMTPServer", "Port", "Empty", "Url", "Quoted"}));

  struct IntCase {
    const char* key;
    int32_t expected;
  };
  const IntCase ints[] = {{"Dec", 42},      {"Neg", -17},    {"Hex", 31},    {"HEX2", 255},
                          {"Dollar", 16},   {"AllBits", -1}, {"Float", -5},  {"Text", -5},
                          {"Trailing", -5}, {"Big", -5},     {"TooBig", -5}, {"Absent", -5}};
  for (const IntCase& c : ints) {
    EXPECT_EQ(ini.ReadInteger("General", c.key, -5), c.expected) << c.key;
  }
  EXPECT_TRUE(ini.ReadBool("General", "On", false));
  EXPECT_FALSE(ini.ReadBool("General", "Off", true));
  EXPECT_TRUE(ini.ReadBool("General", "Seven", false));
  EXPECT_TRUE(ini.ReadBool("General", "Word", true));  // not an integer: the default
  EXPECT_FALSE(ini.ReadBool("General", "Word", false));
}

TEST_F(ConfigFileTest, ParsesIntegersLikeTheFile) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {{"0", true, 0},
                        {" 12 ", true, 12},
                        {"+7", true, 7},
                        {"-2147483648", true, INT32_MIN},
                        {"2147483647", true, INT32_MAX},
                        {"$7fffffff", true, INT32_MAX},
                        {"-$10", true, -16},
                        {"0x", false, 0},
                        {"$", false, 0},
                        {"", false, 0},
                        {"-", false, 0},
                        {"1 2", false, 0},
                        {"0x1G", false, 0},
                        {"99999999999999999999", false, 0}};
  for (const Case& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryParseConfigInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST_F(ConfigFileTest, SeesAtMost2047CharactersOfAValue) {
  const std::string longValue(3000, 'x');
  WriteText("[S]\nLong=" + longValue + "\n");
  ConfigFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "Long", "").size(), ConfigFile::kMaxValueLength);
  ini.WriteString("S", "Exact", std::string(2047, 'y'));
  EXPECT_EQ(ini.ReadString("S", "Exact", ""), std::string(2047, 'y'));
}

TEST_F(ConfigFileTest, WritesThroughToTheFileAtOnce) {
  ConfigFile writer(path_);
  EXPECT_FALSE(std::filesystem::exists(path_));  // opening does not create the file
  EXPECT_EQ(writer.ReadInteger("General", "ColumnCount", 1), 1);

  writer.WriteInteger("General", "ColumnCount", 3);
  writer.WriteBool("General", "VerticalAutoSize", true);
  writer.WriteString("Webserver", "Port", "8080");
  {
    ConfigFile reader(path_);
    EXPECT_EQ(reader.ReadInteger("general", "columncount", 1), 3);
    EXPECT_EQ(reader.ReadString("General", "VerticalAutoSize", ""), "1");
    EXPECT_EQ(reader.ReadString("WEBSERVER", "port", ""), "8080");
  }

  // Overwriting keeps the key's original spelling and position; a case-variant write
  // updates the same key.
  writer.WriteString("GENERAL", "COLUMNCOUNT", "4");
  writer.DeleteKey("General", "VerticalAutoSize");
  EXPECT_EQ(ReadText(), "[General]\nColumnCount=4\n[Webserver]\nPort=8080\n");

  writer.EraseSection("webserver");
  writer.UpdateFile();
  EXPECT_EQ(ReadText(), "[General]\nColumnCount=4\n");
  EXPECT_EQ(ConfigFile(path_).ReadString("Webserver", "Port", "5252"), "5252");
}

TEST_F(ConfigFileTest, RewriteKeepsOtherLinesAndAddsMissingSection) {
  WriteText("; comment\n[Slot0]\nName=One\r\n; note\nnot a key\n\n[Other]\nx=1\n");
  ConfigFile ini(path_);
  ini.WriteString("Slot0", "Folder", "/rec");
  ini.WriteString("Slot1", "Name", "Two");
  EXPECT_EQ(ReadText(),
            "; comment\n[Slot0]\nName=One\nFolder=/rec\n; note\nnot a key\n\n[Other]\nx=1\n"
            "[Slot1]\nName=Two\n");
}

TEST_F(ConfigFileTest, LineBreaksInValuesCannotInjectKeys) {
  ConfigFile ini(path_);
  ini.WriteString("S", "Title", "a\nInjected=1\r\n[X]");
  ConfigFile reader(path_);
  EXPECT_FALSE(reader.ValueExists("S", "Injected"));
  EXPECT_FALSE(reader.SectionExists("X"));
  EXPECT_EQ(reader.ReadString("S", "Title", ""), "a Injected=1  [X]");

  // A name with a line break is stored with a blank and found again either way.
  ini.WriteString("S", "Odd\rKey", "v");
  EXPECT_EQ(ConfigFile(path_).ReadString("S", "Odd\rKey", ""), "v");
  EXPECT_EQ(ConfigFile(path_).ReadString("S", "Odd Key", ""), "v");
}

TEST_F(ConfigFileTest, RefusedWritesRaiseAndLeaveTheFileAlone) {
  WriteText("[General]\nColumnCount=2\n");
  chmod(path_.c_str(), 0444);
  ConfigFile ini(path_);
  try {
    ini.WriteInteger("General", "ColumnCount", 5);
    FAIL() << "write to a read-only file succeeded";
  } catch (const ConfigWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
  }
  EXPECT_EQ(ReadText(), "[General]\nColumnCount=2\n");
  EXPECT_EQ(ini.ReadInteger("General", "ColumnCount", 0), 2);
  EXPECT_THROW(ini.DeleteKey("General", "ColumnCount"), ConfigWriteError);
  EXPECT_THROW(ini.EraseSection("General"), ConfigWriteError);
  EXPECT_EQ(ReadText(), "[General]\nColumnCount=2\n");
  chmod(path_.c_str(), 0644);

  const std::string missing = dir_.File("no-such-folder/Velloran.ini");
  ConfigFile orphan(missing);
  EXPECT_EQ(orphan.ReadString("General", "X", "def"), "def");
  try {
    orphan.WriteString("General", "X", "1");
    FAIL() << "write into a missing folder succeeded";
  } catch (const ConfigWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing);
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  // Nothing is left behind in the folder but the original file.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

// Many writes in one update (closing every slot) reach the file once, at the end of the
// outermost update: until then the file is the old one, so a kill in between leaves it whole.
TEST_F(ConfigFileTest, AnUpdateIsWrittenOnceAtItsEnd) {
  WriteText("[Slot0]\nName=A\n[Old]\nKey=1\n");
  const std::string old = ReadText();
  ConfigFile ini(path_);
  {
    ScopedConfigUpdate outer(ini);
    for (int i = 0; i < 255; ++i) {
      ScopedConfigUpdate inner(ini);
      for (int k = 0; k < 20; ++k) {
        ini.WriteInteger("Slot" + std::to_string(i), "Key" + std::to_string(k), i * k);
      }
      inner.Commit();
    }
    ini.DeleteKey("Slot0", "Name");
    ini.EraseSection("Old");
    EXPECT_EQ(ini.ReadInteger("Slot254", "Key19", -1), 254 * 19);  // readers see the values
    EXPECT_FALSE(ini.ValueExists("Slot0", "Name"));
    EXPECT_EQ(ReadText(), old);  // the file does not, yet
    outer.Commit();
  }
  ConfigFile reread(path_);
  EXPECT_EQ(reread.ReadSections().size(), 255u);
  EXPECT_EQ(reread.ReadInteger("Slot254", "Key19", -1), 254 * 19);
  EXPECT_FALSE(reread.ValueExists("Slot0", "Name"));
  EXPECT_FALSE(reread.SectionExists("Old"));
  ini.WriteInteger("Slot0", "Key0", 7);  // single values are written through again
  EXPECT_EQ(ConfigFile(path_).ReadInteger("Slot0", "Key0", -1), 7);

  // A process killed in the middle of an update leaves the file as it was.
  const std::string before = ReadText();
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ConfigFile writer(path_);
    writer.BeginUpdate();
    for (int i = 0; i < 255; ++i) {
      writer.WriteString("Slot" + std::to_string(i), "Name", "new " + std::to_string(i));
      if (i == 128) {
        (void)!write(pipeFds[1], "x", 1);
        pause();  // killed here, halfway through the sections
      }
    }
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipeFds[0]);
  close(pipeFds[1]);
  EXPECT_EQ(ReadText(), before);

  // A refused file is reported by the end of the update and left alone.
  chmod(path_.c_str(), 0444);
  ScopedConfigUpdate refused(ini);
  ini.WriteString("Slot1", "Name", "x");
  EXPECT_THROW(refused.Commit(), ConfigWriteError);
  EXPECT_EQ(ReadText(), before);
  chmod(path_.c_str(), 0644);
}

TEST_F(ConfigFileTest, MalformedLinesNeverBreakReading) {
  WriteText("[\n[]\n=value\n[Unclosed\nkey=1\n]\n[A]]\nk==v\n");
  ConfigFile ini(path_);
  EXPECT_EQ(ini.ReadString("Unclosed", "key", ""), "1");
  EXPECT_EQ(ini.ReadString("A", "k", ""), "=v");
}

}  // namespace
}  // namespace velloran
