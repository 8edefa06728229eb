// The settings pages of the main window over a real application object: what they show from
// Velloran.ini, what leaving a field stores, the web server's Start/Stop on a real loopback
// server with the page's log box, the ASIO bundle layout and the test e-mail that leaves the
// window free while it is sent.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <fstream>
#include <future>
#include <sstream>

#include "WindowFixture.h"
#include "app/HashWebPassword.h"
#include "app/WebServerService.h"
#include "core/Error.h"
#include "ui/TAsioPage.h"
#include "ui/TEmailPage.h"
#include "ui/TWebServerPage.h"

namespace velloran::ui::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SettingsPagesTest : public WindowFixture {
 protected:
  void TearDown() override {
    if (web_ != nullptr) {
      web_->Stop();
    }
    Stop();
    web_.reset();
  }
  // The window with a web server service behind its Web Server page.
  void StartWithWebServer() {
    beforeCreate_ = [this] {
      web_ = std::make_unique<app::WebServerService>(*app_, false, web::TWebServerOptions{});
      app_->SetWebServer(web_.get());
      window_->AttachWebServer(web_.get());
    };
    Start();
  }
  std::string Ini() { return ReadFile(Root() + "Velloran.ini"); }
  // Focus into a field and out again (the window must be shown and active).
  void FocusInAndOut(QWidget* field, QWidget* next) {
    field->setFocus();
    QApplication::processEvents();
    next->setFocus();
    QApplication::processEvents();
  }

  std::unique_ptr<app::WebServerService> web_;
};

TEST_F(SettingsPagesTest, AnonymousAccessAndEncryptionWords) {
  struct Case {
    const char* stored;
    const char* access;  // the choice shown
    const char* encryption;
  };
  const Case cases[] = {{"Admin", "admin", "STARTTLS"},
                        {"ReadOnly", "read-only", "SSL"},
                        {"admin", "none", "ssl"},  // lower case is not recognised
                        {"none", "none", ""},
                        {"", "none", "TLS"}};
  for (const Case& c : cases) {
    WriteIni(std::string("[General]\nSlotCount=0\n[Webserver]\nAnonymousAccess=") + c.stored +
             "\n[EMail]\nEncryption=" + c.encryption + "\n");
    Start();
    EXPECT_EQ(window_->WebServerPage().cbAnonymousAccess->currentText().toStdString(), c.access)
        << c.stored;
    const std::string shown = window_->EmailPage().cbEncryption->currentText().toStdString();
    const std::string encryption = c.encryption;
    EXPECT_EQ(shown, encryption == "STARTTLS" || encryption == "SSL" ? encryption : "none")
        << c.encryption;
    Stop();
  }
}

TEST_F(SettingsPagesTest, FieldsAreFilledAndLeavingThemStoresThem) {
  const std::string storedHash = app::HashWebPassword("old");
  WriteIni("[General]\nSlotCount=0\n[Webserver]\nAdminUser=boss\nAdminPassword=" + storedHash +
           "\n[EMail]\nSMTPServer=mail.example.org\nUser=me\nPassword=clear\n"
           "FromAddress=a@example.org\nReceipients=b@example.org,c@example.org\n");
  StartWithWebServer();
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  window_->activateWindow();
  TWebServerPage& web = window_->WebServerPage();
  TEmailPage& mail = window_->EmailPage();
  EXPECT_EQ(web.edWebServerPort->text().toStdString(), "5252");
  EXPECT_EQ(web.edWebServerAdminUser->text().toStdString(), "boss");
  EXPECT_EQ(web.edWebServerAdminPassword->text().toStdString(), storedHash);  // masked
  EXPECT_EQ(web.edWebServerAdminPassword->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(web.btnWebServerStart->isEnabled());
  EXPECT_FALSE(web.btnWebServerStop->isEnabled());
  EXPECT_EQ(mail.edSMTPPort->text().toStdString(), "25");
  EXPECT_EQ(mail.edRecipients->text().toStdString(), "b@example.org,c@example.org");
  EXPECT_EQ(mail.edPassword->text().toStdString(), "clear");

  // A new admin password, typed into the cleared field: its hash is stored on leaving it.
  window_->Pages().setCurrentIndex(1);
  web.edWebServerAdminPassword->setFocus();
  web.edWebServerAdminPassword->selectAll();
  QTest::keyClick(web.edWebServerAdminPassword, Qt::Key_Delete);
  QTest::keyClicks(web.edWebServerAdminPassword, QStringLiteral("secret"));
  EXPECT_EQ(Ini().find("AdminPassword=" + app::HashWebPassword("secret")), std::string::npos);
  FocusInAndOut(web.edWebServerAdminPassword, web.edWebServerReadOnlyUser);
  std::string ini = Ini();
  EXPECT_NE(ini.find("AdminPassword=" + app::HashWebPassword("secret")), std::string::npos) << ini;
  EXPECT_EQ(ini.find("secret"), std::string::npos);  // never the password itself

  // Only the encryption changed: nothing is stored until the next save, here the close.
  window_->Pages().setCurrentIndex(4);
  mail.cbEncryption->setFocus();
  mail.cbEncryption->setCurrentIndex(1);
  Q_EMIT mail.cbEncryption->activated(1);
  FocusInAndOut(mail.cbEncryption, mail.edSMTPServer);
  EXPECT_EQ(Ini().find("Encryption=STARTTLS"), std::string::npos);
  // An e-mail field typed and left is stored at once.
  QTest::keyClicks(mail.edUser, QStringLiteral("2"));
  FocusInAndOut(mail.edUser, mail.edSMTPServer);
  ini = Ini();
  EXPECT_NE(ini.find("User=me2"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Encryption=STARTTLS"), std::string::npos) << ini;  // went with it
  mail.cbEncryption->setCurrentIndex(2);
  Q_EMIT mail.cbEncryption->activated(2);
  app_->Close();
  EXPECT_NE(Ini().find("Encryption=SSL"), std::string::npos);

  // The next start shows the new hash, masked.
  Stop();
  Start();
  EXPECT_EQ(window_->WebServerPage().edWebServerAdminPassword->text().toStdString(),
            app::HashWebPassword("secret"));
}

TEST_F(SettingsPagesTest, WebServerStartAndStopOnLoopback) {
  WriteIni("[General]\nSlotCount=0\n[Webserver]\nPort=127.0.0.1:0\nAdminUser=admin\n");
  StartWithWebServer();
  TWebServerPage& page = window_->WebServerPage();
  std::vector<std::string> errors;
  QTest::mouseClick(page.btnWebServerStart, Qt::LeftButton);
  ASSERT_TRUE(web_->Running());
  EXPECT_NE(web_->Server().Port(), 0);
  EXPECT_FALSE(page.btnWebServerStart->isEnabled());
  EXPECT_TRUE(page.btnWebServerStop->isEnabled());
  for (QWidget* field : std::initializer_list<QWidget*>{
           page.edWebServerPort, page.edWebServerAdminUser, page.edWebServerAdminPassword,
           page.edWebServerReadOnlyUser, page.edWebServerReadOnlyPassword}) {
    EXPECT_FALSE(field->isEnabled());
  }
  EXPECT_TRUE(page.cbAnonymousAccess->isEnabled());
  EXPECT_NE(Ini().find("Enabled=on"), std::string::npos);
  QTest::mouseClick(page.btnWebServerStop, Qt::LeftButton);
  EXPECT_FALSE(web_->Running());
  EXPECT_TRUE(page.btnWebServerStart->isEnabled());
  EXPECT_FALSE(page.btnWebServerStop->isEnabled());
  EXPECT_TRUE(page.edWebServerPort->isEnabled());
  EXPECT_NE(Ini().find("Enabled=off"), std::string::npos);
  const QStringList lines = page.memWebServerLog->toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(": Web server started"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(": Web server stopped"))) << lines[1].toStdString();

  // A port that cannot be: the error is logged and shown, the server stays stopped.
  page.SetActions({[this] { app_->FlushGlobalConfig(); }, [this] { return web_->StartClick(); },
                   [this] { web_->StopClick(); }, [this] { return web_->Running(); },
                   [&errors](const std::string& text) { errors.push_back(text); }});
  page.edWebServerPort->setText(QStringLiteral("127.0.0.1:99999999999"));
  Q_EMIT page.edWebServerPort->textEdited(page.edWebServerPort->text());
  QTest::mouseClick(page.btnWebServerStart, Qt::LeftButton);
  EXPECT_FALSE(web_->Running());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("Error starting web server: ", 0), 0u) << errors[0];
  EXPECT_TRUE(page.btnWebServerStart->isEnabled());
  EXPECT_TRUE(page.memWebServerLog->toPlainText().contains(QStringLiteral("Error starting")));

  // The box keeps the last 1000 lines.
  for (int i = 0; i < 1005; ++i) {
    web_->Log().Append("line " + std::to_string(i));
  }
  EXPECT_EQ(page.memWebServerLog->document()->blockCount(), 1000);
  EXPECT_TRUE(
      page.memWebServerLog->document()->lastBlock().text().endsWith(QStringLiteral("line 1004")));
}

TEST(AsioLayoutTest, BundleLayout) {
  struct Case {
    std::vector<int32_t> bundles;
    std::vector<int32_t> laidOut;
    std::vector<bool> enabled;
  };
  const Case cases[] = {
      {{2, 0, 2, 0, 2, 0, 2, 0}, {2, 0, 2, 0, 2, 0, 2, 0}, {1, 0, 1, 0, 1, 0, 1, 0}},
      {{4, 0, 2, 0, 2, 0, 2, 0}, {4, 0, 2, 0, 2, 0, 2, 0}, {1, 0, 0, 0, 1, 0, 1, 0}},
      // The last line's bundle runs past the last channel: nothing beyond it is touched.
      {{2, 0, 2, 0, 2, 0, 2, 4}, {2, 0, 2, 0, 2, 0, 2, 4}, {1, 0, 1, 0, 1, 0, 1, 0}},
      {{2, 0, 2, 0, 2, 0, 1, 4}, {2, 0, 2, 0, 2, 0, 1, 4}, {1, 0, 1, 0, 1, 0, 1, 1}},
      {{0, -3, 1}, {1, 1, 1}, {1, 1, 1}},
      {{}, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> bundles = c.bundles;
    EXPECT_EQ(LayOutBundles(bundles), c.enabled);
    EXPECT_EQ(bundles, c.laidOut);
  }
}

TEST(AsioPageTest, ListAndEditsOfAnEightChannelDriver) {
  app::TGlobalSettings settings;
  app::AsioDriverSettings driver;
  driver.bufferSize = 256;
  driver.sampleRate = 0;
  driver.threadCount = 1;
  driver.bundles = {2, 0, 2, 0, 2, 0, 2, 0};
  settings.asioDrivers.push_back(driver);
  TAsioPage page(nullptr);
  std::optional<QString> answer;
  page.askBundleSize = [&answer](int) { return answer; };
  page.Build(settings, nullptr);
  ASSERT_EQ(page.tcDrivers->count(), 1);
  ASSERT_EQ(page.lvChannels->topLevelItemCount(), 8);
  EXPECT_EQ(page.edBufferSize->text().toStdString(), "256");
  auto shown = [&page] {
    std::string sizes;
    for (int i = 0; i < page.lvChannels->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = page.lvChannels->topLevelItem(i);
      const bool enabled = (item->flags() & Qt::ItemIsEnabled) != 0;
      sizes += (enabled ? item->text(1).toStdString() : std::string("-")) + " ";
    }
    return sizes;
  };
  EXPECT_EQ(shown(), "2 - 2 - 2 - 2 - ");
  struct Edit {
    int line;
    std::optional<QString> answer;
    const char* shown;
  };
  const Edit edits[] = {
      {0, QStringLiteral("4"), "4 - - - 2 - 2 - "},
      {1, QStringLiteral("1"), "4 - - - 2 - 2 - "},  // inside a bundle: not asked
      {6, QStringLiteral("4"), "4 - - - 2 - 4 - "},
      {4, std::nullopt, "4 - - - 2 - 4 - "},         // cancelled
      {4, QStringLiteral("x"), "4 - - - 2 - 4 - "},  // not an integer: 2
      {4, QStringLiteral("0"), "4 - - - 1 1 4 - "},  // laid out as 1
      {0, QStringLiteral("1"), "1 1 2 - 1 1 4 - "},  // the old start at line 3 shows again
  };
  for (const Edit& e : edits) {
    answer = e.answer;
    page.EditBundle(e.line);
    EXPECT_EQ(shown(), e.shown) << e.line;
  }
  // Driver fields: an integer is taken, other text leaves the value.
  page.edBufferSize->setText(QStringLiteral("512"));
  page.edBufferSize->setText(QStringLiteral("5x"));
  page.edThreadCount->setText(QStringLiteral("3"));
  EXPECT_EQ(settings.asioDrivers[0].bufferSize, 512);
  EXPECT_EQ(settings.asioDrivers[0].threadCount, 3);
}

// The test message is sent on a worker: the window keeps serving its events while the send
// waits, and the answer comes back to the page. The mail server is replaced by a send that
// waits for the test (a real server's time-out is 30 s).
TEST_F(SettingsPagesTest, TestEmailLeavesTheWindowFree) {
  WriteIni("[General]\nSlotCount=0\n[EMail]\nSMTPServer=mail.example.org\nSMTPPort=2525\n");
  Start();
  TEmailPage& page = window_->EmailPage();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  alarms::NotificationEmailSettings sent;
  page.send = [&sent, released](const alarms::NotificationEmailSettings& settings,
                                const std::atomic<bool>&) {
    sent = settings;
    released.wait();
    throw Error("Connection refused");
  };
  std::vector<std::pair<bool, std::string>> results;
  page.showResult = [&results](bool ok, const std::string& text) {
    results.emplace_back(ok, text);
  };
  page.cbEncryption->setCurrentIndex(2);  // read from the page, not from the file
  QTest::mouseClick(page.btnSendTestEmail, Qt::LeftButton);
  EXPECT_TRUE(page.Sending());
  EXPECT_FALSE(page.btnSendTestEmail->isEnabled());
  // The event loop runs on: a timer queued now fires while the send still waits.
  bool ticked = false;
  QTimer::singleShot(0, [&ticked] { ticked = true; });
  QTRY_VERIFY(ticked);
  EXPECT_TRUE(results.empty());
  release.set_value();
  QTRY_VERIFY_WITH_TIMEOUT(!results.empty(), 10000);
  EXPECT_FALSE(results[0].first);
  EXPECT_EQ(results[0].second, "Connection refused");
  EXPECT_TRUE(page.btnSendTestEmail->isEnabled());
  EXPECT_EQ(sent.smtpServer, "mail.example.org");
  EXPECT_EQ(sent.smtpPort, "2525");
  EXPECT_TRUE(sent.useTls);
  EXPECT_FALSE(sent.requireStartTls);

  page.send = [](const alarms::NotificationEmailSettings&, const std::atomic<bool>&) {};
  QTest::mouseClick(page.btnSendTestEmail, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(results.size() == 2, 10000);
  EXPECT_TRUE(results[1].first);
  EXPECT_EQ(results[1].second, "Test e-mail has been sent. Please check your inbox.");
}

// Pictures of the settings pages, kept under the build tree for a person to look at.
TEST_F(SettingsPagesTest, Screenshots) {
  WriteIni(
      "[General]\nSlotCount=0\n[Webserver]\nAdminUser=admin\nAnonymousAccess=ReadOnly\n"
      "[EMail]\nSMTPServer=mail.example.org\nEncryption=STARTTLS\n");
  StartWithWebServer();
  app::TGlobalSettings& settings = app_->Settings();
  app::AsioDriverSettings driver;
  driver.bundles = {2, 0, 1, 4, 0, 0, 0, 2};
  settings.asioDrivers.push_back(driver);
  window_->BuildAsioPage(settings);
  window_->SetVersionLabel(app::TVelloranApp::VersionText());
  window_->WebServerPage().AppendLogLine("01.01.2026 10:00:00: Web server started");
  const QString folder = QStringLiteral(VELLORAN_ARTIFACT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  const std::pair<int, const char*> pages[] = {
      {1, "web-server"}, {3, "asio"}, {4, "e-mail"}, {5, "about"}};
  for (const auto& [index, name] : pages) {
    window_->Pages().setCurrentIndex(index);
    QTest::qWait(30);
    ASSERT_TRUE(window_->grab().save(folder + QStringLiteral("/page-%1.png").arg(name)));
  }
}

}  // namespace
}  // namespace velloran::ui::test
