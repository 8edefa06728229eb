#include "app/GlobalSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/HashWebPassword.h"
#include "app/PasswordField.h"
#include "support/TempDir.h"

namespace velloran::app {
namespace {

std::string Slurp(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
}

// "section/key" of every key line, in file order.
std::vector<std::string> KeyOrder(const std::string& file) {
  std::vector<std::string> keys;
  std::istringstream in(Slurp(file));
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.size() > 1 && line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
    } else if (auto eq = line.find('='); eq != std::string::npos) {
      keys.push_back(section + "/" + line.substr(0, eq));
    }
  }
  return keys;
}

TEST(HashWebPasswordTest, SaltedMd5InUpperCaseHex) {
  // Expected values computed independently: md5("QuorvexTamblinPrade" + password), upper case.
  EXPECT_EQ(HashWebPassword(""), "DD50AF762AEB11DD3D9CA4B868648EBC");
  EXPECT_EQ(HashWebPassword("secret"), "97A302A0C8B0A733D69635C0268B80C0");
  EXPECT_EQ(HashWebPassword("P\xC3\xA4sswort"), "D965C222D220D29FDF6E57A313AA2D20");
}

TEST(PasswordFieldTest, StoredHashTypingAndClearing) {
  PasswordField field;
  field.Load("");  // absent key: empty hash, not the hash of the empty password
  EXPECT_EQ(field.Hash(), "");

  const std::string stored = HashWebPassword("");
  field.Load(stored);
  EXPECT_EQ(field.Text(), stored);  // the field shows the stored hash, masked
  EXPECT_EQ(field.Hash(), stored);  // untouched: kept

  field.Type("x");  // typing into the shown hash hashes hash text + typed characters
  EXPECT_EQ(field.Hash(), "AEDE4E0CBFAFC02B2DFDDAA3A2392FA7");

  field.Clear();  // clearing stores the hash of the empty password
  EXPECT_EQ(field.Hash(), "DD50AF762AEB11DD3D9CA4B868648EBC");
  field.Type("secret");
  EXPECT_EQ(field.Hash(), HashWebPassword("secret"));
}

struct ReadCase {
  const char* name;
  const char* ini;
  void (*check)(const TGlobalSettings& s, const ConfigFile& c);
};

class GlobalSettingsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(GlobalSettingsRead, Case) {
  test::TempDir dir;
  const std::string file = dir.File("Velloran.ini");
  WriteFile(file, GetParam().ini);
  ConfigFile config(file);
  TGlobalSettings settings;
  settings.Read(config);
  GetParam().check(settings, config);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GlobalSettingsRead,
    ::testing::Values(
        ReadCase{"EmptyFileDefaults", "",
                 [](const TGlobalSettings& s, const ConfigFile& c) {
                   EXPECT_EQ(s.port, "5252");
                   EXPECT_EQ(s.smtpPort, "25");
                   EXPECT_EQ(s.encryption, TEmailEncryption::eeNone);
                   EXPECT_EQ(s.anonymousAccess, TAccessLevel::alNone);
                   EXPECT_EQ(s.columnCount, 1);
                   EXPECT_FALSE(s.verticalAutoSize);
                   EXPECT_EQ(s.adminPassword.Hash(), "");
                   EXPECT_TRUE(TGlobalSettings::CloseConfirmation(c));
                   EXPECT_FALSE(TGlobalSettings::WebServerEnabled(c));
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).full, 4);
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).alarm, 0);
                   EXPECT_FALSE(TGlobalSettings::ReadWindowPosition(c, {}).has_value());
                 }},
        ReadCase{"AccessWordsAreCaseSensitive", "[Webserver]\nAnonymousAccess=readonly\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.anonymousAccess, TAccessLevel::alNone);
                 }},
        ReadCase{"ReadOnlyAccess", "[webserver]\nAnonymousAccess=ReadOnly\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.anonymousAccess, TAccessLevel::alReadOnly);
                 }},
        ReadCase{"AdminAccessAndStoredHashes",
                 "[Webserver]\nAnonymousAccess=Admin\nAdminPassword=ABC\nPort=\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.anonymousAccess, TAccessLevel::alAdmin);
                   EXPECT_EQ(s.adminPassword.Hash(), "ABC");
                   EXPECT_EQ(s.adminPassword.Text(), "ABC");
                   EXPECT_EQ(s.port, "");  // present and empty: empty, not the default
                 }},
        ReadCase{"LowerCaseSslIsNoEncryption", "[EMail]\nEncryption=ssl\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.encryption, TEmailEncryption::eeNone);
                 }},
        ReadCase{"EmailSectionNameIgnoresCase",
                 "[email]\nEncryption=SSL\nsmtpserver=mail.example\nReceipients=a@b\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.encryption, TEmailEncryption::eeSSL);
                   EXPECT_EQ(s.smtpServer, "mail.example");
                   EXPECT_EQ(s.receipients, "a@b");
                 }},
        ReadCase{"StartTls", "[EMail]\nEncryption=STARTTLS\n",
                 [](const TGlobalSettings& s, const ConfigFile&) {
                   EXPECT_EQ(s.encryption, TEmailEncryption::eeSTARTTLS);
                 }},
        ReadCase{"CloseConfirmationUpperCaseOffStillAsks", "[General]\nCloseConfirmation=OFF\n",
                 [](const TGlobalSettings&, const ConfigFile& c) {
                   EXPECT_TRUE(TGlobalSettings::CloseConfirmation(c));
                 }},
        ReadCase{"CloseConfirmationZeroStillAsks", "[General]\nCloseConfirmation=0\n",
                 [](const TGlobalSettings&, const ConfigFile& c) {
                   EXPECT_TRUE(TGlobalSettings::CloseConfirmation(c));
                 }},
        ReadCase{"CloseConfirmationOff", "[General]\nCloseConfirmation=off\n",
                 [](const TGlobalSettings&, const ConfigFile& c) {
                   EXPECT_FALSE(TGlobalSettings::CloseConfirmation(c));
                 }},
        ReadCase{"WebServerEnabledOnlyForOn", "[Webserver]\nEnabled=On\n",
                 [](const TGlobalSettings&, const ConfigFile& c) {
                   EXPECT_FALSE(TGlobalSettings::WebServerEnabled(c));
                 }},
        ReadCase{"UnparsableNumbersTakeDefaults",
                 "[General]\nColumnCount=three\nVerticalAutoSize=yes\nSlotCount=x\n"
                 "AlarmSlotCount=12abc\n",
                 [](const TGlobalSettings& s, const ConfigFile& c) {
                   EXPECT_EQ(s.columnCount, 1);
                   EXPECT_FALSE(s.verticalAutoSize);
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).full, 4);
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).alarm, 0);
                 }},
        ReadCase{"SlotCountsClampedAndHex",
                 "[General]\nSlotCount=-3\nAlarmSlotCount=0x1000\nVerticalAutoSize=7\n",
                 [](const TGlobalSettings& s, const ConfigFile& c) {
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).full, 0);
                   EXPECT_EQ(TGlobalSettings::ReadSlotCounts(c).alarm, 255);
                   EXPECT_TRUE(s.verticalAutoSize);
                 }},
        ReadCase{"WindowPositionPartlyStored", "[MainWindowPosition]\nLeft=10\nMaximized=1\n",
                 [](const TGlobalSettings&, const ConfigFile& c) {
                   const auto b = TGlobalSettings::ReadWindowPosition(c, {1, 2, 300, 400, false});
                   ASSERT_TRUE(b.has_value());
                   EXPECT_EQ(b->left, 10);
                   EXPECT_EQ(b->top, 2);
                   EXPECT_EQ(b->width, 300);
                   EXPECT_EQ(b->height, 400);
                   EXPECT_TRUE(b->maximized);
                 }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(GlobalSettingsTest, ColumnCountClamp) {
  EXPECT_EQ(TGlobalSettings::ClampColumnCount(0, 5), 1);
  EXPECT_EQ(TGlobalSettings::ClampColumnCount(9, 5), 5);
  EXPECT_EQ(TGlobalSettings::ClampColumnCount(3, 5), 3);
  EXPECT_EQ(TGlobalSettings::ClampColumnCount(3, 0), 1);
}

TEST(GlobalSettingsTest, AsioFieldKeepsItsValueOnText) {
  int32_t value = 48000;
  EXPECT_FALSE(TGlobalSettings::ApplyIntegerText("", value));
  EXPECT_FALSE(TGlobalSettings::ApplyIntegerText("44.1k", value));
  EXPECT_EQ(value, 48000);
  EXPECT_TRUE(TGlobalSettings::ApplyIntegerText("44100", value));
  EXPECT_EQ(value, 44100);
  EXPECT_TRUE(TGlobalSettings::ApplyIntegerText("$100", value));
  EXPECT_EQ(value, 256);
}

TEST(GlobalSettingsTest, WriteOrderAndWords) {
  test::TempDir dir;
  const std::string file = dir.File("Velloran.ini");
  ConfigFile config(file);  // no file yet: the file order is the write order
  TGlobalSettings settings;
  settings.Read(config);
  settings.anonymousAccess = TAccessLevel::alReadOnly;
  settings.encryption = TEmailEncryption::eeSTARTTLS;
  settings.adminPassword.Clear();
  settings.port = "not a port";  // written as it stands
  AsioDriverSettings driver;
  driver.index = 1;
  driver.sampleRate = 48000;
  driver.bundles = {4, 0, 0, 0, 2, 0, 2, 0};
  settings.asioDrivers.push_back(driver);

  settings.Write(config, true, WindowBounds{5, 6, 700, 800, true});
  const std::vector<std::string> expected = {"General/ColumnCount",
                                             "General/VerticalAutoSize",
                                             "Webserver/Enabled",
                                             "Webserver/Port",
                                             "Webserver/AdminUser",
                                             "Webserver/AdminPassword",
                                             "Webserver/ReadOnlyUser",
                                             "Webserver/ReadOnlyPassword",
                                             "Webserver/AnonymousAccess",
                                             "EMail/SMTPServer",
                                             "EMail/SMTPPort",
                                             "EMail/Encryption",
                                             "EMail/User",
                                             "EMail/Password",
                                             "EMail/FromAddress",
                                             "EMail/Receipients",
                                             "ASIODevice1/BufferSize",
                                             "ASIODevice1/Samplerate",
                                             "ASIODevice1/ThreadCount",
                                             "ASIODevice1/ChannelBundle0",
                                             "ASIODevice1/ChannelBundle4",
                                             "ASIODevice1/ChannelBundle6",
                                             "MainWindowPosition/Left",
                                             "MainWindowPosition/Top",
                                             "MainWindowPosition/Width",
                                             "MainWindowPosition/Height",
                                             "MainWindowPosition/Maximized"};
  EXPECT_EQ(KeyOrder(file), expected);

  ConfigFile reread(file);
  EXPECT_EQ(reread.ReadString("Webserver", "Enabled", ""), "on");
  EXPECT_EQ(reread.ReadString("Webserver", "AnonymousAccess", ""), "ReadOnly");
  EXPECT_EQ(reread.ReadString("Webserver", "AdminPassword", ""), HashWebPassword(""));
  EXPECT_EQ(reread.ReadString("Webserver", "ReadOnlyPassword", "x"), "");
  EXPECT_EQ(reread.ReadString("Webserver", "Port", ""), "not a port");
  EXPECT_EQ(reread.ReadString("EMail", "Encryption", ""), "STARTTLS");
  EXPECT_EQ(reread.ReadString("MainWindowPosition", "Maximized", ""), "1");
}

TEST(GlobalSettingsTest, WithoutWindowThePositionStaysAsItWas) {
  test::TempDir dir;
  const std::string file = dir.File("Velloran.ini");
  WriteFile(file, "[MainWindowPosition]\nLeft=77\n");
  ConfigFile config(file);
  TGlobalSettings settings;
  settings.Read(config);
  settings.Write(config, false, std::nullopt);
  ConfigFile reread(file);
  EXPECT_EQ(reread.ReadSectionKeys("MainWindowPosition"), std::vector<std::string>{"Left"});
  EXPECT_EQ(reread.ReadInteger("MainWindowPosition", "Left", 0), 77);
  EXPECT_EQ(reread.ReadString("Webserver", "Enabled", ""), "off");
  EXPECT_EQ(reread.ReadString("Webserver", "AnonymousAccess", ""), "none");
  EXPECT_EQ(reread.ReadString("EMail", "Encryption", ""), "none");
}

TEST(GlobalSettingsTest, AsioWriterLeavesOneTiling) {
  test::TempDir dir;
  const std::string file = dir.File("Velloran.ini");
  WriteFile(file,
            "[ASIODevice0]\nChannelBundle0=4\nChannelBundle1=2\nChannelBundle2=2\n"
            "ChannelBundle4=9\nChannelBundle5=1\n");
  ConfigFile config(file);
  AsioDriverSettings driver;
  driver.bundles = {4, 0, 0, 0, 2, 0, 2, 0};
  TGlobalSettings::WriteAsioDriver(config, driver);
  ConfigFile reread(file);
  EXPECT_EQ(reread.ReadSectionKeys("ASIODevice0"),
            (std::vector<std::string>{"ChannelBundle0", "ChannelBundle4", "BufferSize",
                                      "Samplerate", "ThreadCount", "ChannelBundle6"}));
  EXPECT_EQ(reread.ReadInteger("ASIODevice0", "ChannelBundle4", 0), 2);
}

TEST(GlobalSettingsTest, UnwritableFileEndsTheFlush) {
  test::TempDir dir;
  WriteFile(dir.File("notafolder"), "x");
  const std::string file = dir.File("notafolder/Velloran.ini");  // fails even for root
  ConfigFile config(file);
  TGlobalSettings settings;
  settings.Read(config);
  try {
    settings.Write(config, false, std::nullopt);
    FAIL() << "write below a plain file succeeded";
  } catch (const ConfigWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
  }
  EXPECT_EQ(Slurp(dir.File("notafolder")), "x");
}

}  // namespace
}  // namespace velloran::app
