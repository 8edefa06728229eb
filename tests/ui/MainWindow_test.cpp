#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QMessageBox>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "WindowFixture.h"
#include "app/SingleInstance.h"

namespace velloran::ui::test {
namespace {

using MainWindowTest = WindowFixture;

const char* const kTwoToneSlots =
    "[General]\nSlotCount=2\n"
    "[Slot0]\nName=Studio A\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
    "Folder=%ROOT%rec0\n"
    "[Slot1]\nName=Studio B\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nEnabled=off\n"
    "Folder=%ROOT%rec1\n";

TEST_F(MainWindowTest, PagesCaptionAndSize) {
  WriteIni("[General]\nSlotCount=0\n");
  Start();
  QTabWidget& pages = window_->Pages();
  ASSERT_EQ(pages.count(), 6);
  const char* titles[] = {"Slots", "Web Server", "Messages", "ASIO", "E-Mail", "About"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(pages.tabText(i).toStdString(), titles[i]);
  }
  EXPECT_EQ(pages.currentIndex(), 0);
  EXPECT_EQ(window_->windowTitle().toStdString(), "Sondrel Velloran");
  EXPECT_EQ(window_->size(), QSize(454, 504));
  // Zero slots: an empty grid, and no column change is offered.
  EXPECT_EQ(window_->Grid().RowCount(), 0);
  window_->PopupMenuPopup();
  EXPECT_FALSE(window_->IncreaseColumnsItem().isEnabled());
  EXPECT_FALSE(window_->DecreaseColumnsItem().isEnabled());
  EXPECT_FALSE(window_->OpenOutputFolderItem().isEnabled());
}

// The tile lines sit at fixed rows (4, 20, 38, 50, 68) and the buttons are 100 x 25: with the
// font this machine has in place of Tahoma, every line still fits above the next one and every
// caption inside its button.
TEST(WindowFontTest, TextsFitTheirPlacesWithTheFontInUse) {
  const QFont base = WindowFont();
  EXPECT_EQ(base.pointSize(), 8);
  auto height = [&base](int points, bool bold) {
    QFont font = base;
    font.setPointSize(points);
    font.setBold(bold);
    return QFontMetrics(font).height();
  };
  EXPECT_LE(height(10, true), 20 - 4);  // name above the source line
  EXPECT_LE(height(10, false), 38 - 20);
  EXPECT_LE(height(7, false), 50 - 38);  // file name above the recording time
  EXPECT_LE(height(10, false), 68 - 50);
  const QFontMetrics button(base);
  for (const char* caption : {"Settings...", "Start", "Stop"}) {
    EXPECT_LE(button.horizontalAdvance(QString::fromLatin1(caption)) + 12, 100) << caption;
  }
  EXPECT_LE(button.height() + 6, 25);
}

TEST_F(MainWindowTest, StartAndStopActOnTheFocusedGeneratorSlot) {
  WriteIni(kTwoToneSlots);
  Start();
  app_->timTimerTimer();  // the first rotation check starts the enabled slot's file
  ASSERT_NE(Slot(0).Encoder(), 0u) << Slot(0).ErrorMessage();
  EXPECT_EQ(Slot(1).Encoder(), 0u);

  TSlotGrid& grid = window_->Grid();
  ASSERT_TRUE(grid.FocusTile(1, 0));
  EXPECT_TRUE(grid.StartButton().isEnabled());
  EXPECT_FALSE(grid.StopButton().isEnabled());
  QTest::mouseClick(&grid.StartButton(), Qt::LeftButton);
  EXPECT_TRUE(Slot(1).Enabled());
  EXPECT_NE(Slot(1).Encoder(), 0u) << Slot(1).ErrorMessage();
  EXPECT_FALSE(grid.StartButton().isEnabled());
  EXPECT_TRUE(grid.StopButton().isEnabled());

  QTest::mouseClick(&grid.StopButton(), Qt::LeftButton);
  EXPECT_FALSE(Slot(1).Enabled());
  EXPECT_EQ(Slot(1).Encoder(), 0u);
  EXPECT_TRUE(grid.StartButton().isEnabled());
  EXPECT_NE(Slot(0).Encoder(), 0u);  // the other slot records on

  // Without a focused tile the buttons are hidden and act on nothing.
  grid.ClearTileFocus();
  window_->btnStartClick();
  EXPECT_FALSE(Slot(1).Enabled());
}

TEST_F(MainWindowTest, RequestsFromOtherThreadsAreCarriedOutOnTheMainThread) {
  WriteIni(kTwoToneSlots);
  Start();
  TSlotGrid& grid = window_->Grid();
  ASSERT_TRUE(grid.FocusTile(0, 0));
  ASSERT_TRUE(grid.StopButton().isEnabled());
  std::thread web([this] {
    app_->PostStopSlot(0);
    app_->PostStartSlot(7);  // no such slot: ignored
    app_->PostStartSlot(1);
  });
  web.join();
  EXPECT_TRUE(Slot(0).Enabled());  // nothing happens on the calling thread
  QTRY_VERIFY_WITH_TIMEOUT(Slot(1).Enabled(), 30000);
  EXPECT_FALSE(Slot(0).Enabled());
  // The buttons of the focused tile followed.
  EXPECT_FALSE(grid.StopButton().isEnabled());
  EXPECT_TRUE(grid.StartButton().isEnabled());
}

TEST_F(MainWindowTest, MessagesPageKeeps999Lines) {
  WriteIni("[General]\nSlotCount=0\n");
  Start();
  for (int i = 1; i <= 1000; ++i) {
    app_->LogMessage(nullptr, "line " + std::to_string(i));
  }
  QPlainTextEdit& page = window_->MessagesPage();
  EXPECT_EQ(page.document()->blockCount(), 999);
  const QString first = page.document()->firstBlock().text();
  const QString last = page.document()->lastBlock().text();
  EXPECT_TRUE(first.endsWith(QStringLiteral(": line 2"))) << first.toStdString();
  EXPECT_TRUE(last.endsWith(QStringLiteral(": line 1000"))) << last.toStdString();
  EXPECT_EQ(page.verticalScrollBar()->value(), page.verticalScrollBar()->maximum());
  EXPECT_TRUE(page.isReadOnly());
}

TEST_F(MainWindowTest, PopupMenuFollowsFocusAndColumns) {
  std::string ini = kTwoToneSlots;
  ini.replace(ini.find("SlotCount=2\n"), 12, "SlotCount=2\nColumnCount=7\n");
  WriteIni(ini);
  Start();
  TSlotGrid& grid = window_->Grid();
  EXPECT_EQ(grid.ColumnCount(), 2);  // stored 7 clamped to the two slots
  window_->PopupMenuPopup();
  EXPECT_FALSE(window_->OpenOutputFolderItem().isEnabled());
  EXPECT_FALSE(window_->IncreaseColumnsItem().isEnabled());
  EXPECT_TRUE(window_->DecreaseColumnsItem().isEnabled());
  window_->DecreaseColumnsItem().trigger();
  EXPECT_EQ(grid.ColumnCount(), 1);
  EXPECT_EQ(app_->Settings().columnCount, 1);  // written with the global settings
  EXPECT_EQ(grid.RowCount(), 2);

  std::vector<QUrl> opened;
  window_->openUrl = [&opened](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  ASSERT_TRUE(grid.FocusTile(1, 0));
  window_->PopupMenuPopup();
  EXPECT_TRUE(window_->OpenOutputFolderItem().isEnabled());
  window_->OpenOutputFolderItem().trigger();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(Root() + "rec1")));

  EXPECT_FALSE(window_->VerticalAutoSizeItem().isChecked());
  window_->VerticalAutoSizeItem().trigger();
  EXPECT_TRUE(grid.VerticalAutoSize());
  EXPECT_TRUE(app_->Settings().verticalAutoSize);
}

TEST_F(MainWindowTest, StoredPositionIsAppliedAtFirstShowAndWrittenBack) {
  WriteIni(
      "[General]\nSlotCount=0\n"
      "[MainWindowPosition]\nLeft=40\nTop=50\nWidth=500\nHeight=420\n");
  Start();
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(window_->geometry(), QRect(40, 50, 500, 420));
  window_->setGeometry(60, 70, 520, 430);
  app_->FlushGlobalConfig();
  ConfigFile written(dir_.File("Velloran.ini"));
  EXPECT_EQ(written.ReadInteger("MainWindowPosition", "Left", 0), 60);
  EXPECT_EQ(written.ReadInteger("MainWindowPosition", "Top", 0), 70);
  EXPECT_EQ(written.ReadInteger("MainWindowPosition", "Width", 0), 520);
  EXPECT_EQ(written.ReadInteger("MainWindowPosition", "Height", 0), 430);
}

// Answers the close question when it shows, after checking its text and default button.
void AnswerCloseQuestion(QMessageBox::StandardButton answer, int& asked) {
  QTimer::singleShot(0, [answer, &asked] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    ++asked;
    EXPECT_EQ(box->text().toStdString(), "Exit Sondrel Velloran?");
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    box->button(answer)->click();
  });
}

TEST_F(MainWindowTest, CloseAsksAndClosesOnlyOnYes) {
  WriteIni("[General]\nSlotCount=0\n");
  Start();
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  int asked = 0;
  AnswerCloseQuestion(QMessageBox::No, asked);
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_FALSE(app_->Closing());
  AnswerCloseQuestion(QMessageBox::Yes, asked);
  EXPECT_TRUE(window_->close());
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(app_->Closing());
  // The global settings were written on close, with the window's position.
  ConfigFile written(dir_.File("Velloran.ini"));
  EXPECT_EQ(written.ReadInteger("MainWindowPosition", "Width", 0), 454);
}

TEST_F(MainWindowTest, SecondStartRestoresTheFirstWindow) {
  WriteIni("[General]\nSlotCount=0\nCloseConfirmation=off\n");
  Start();
  app::SingleInstance instance(Root());
  int restores = 0;
  ASSERT_TRUE(instance.Listen([this, &restores] {
    ++restores;
    app_->HandleRestoreRequest();
  }));
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  window_->showMinimized();
  QTRY_VERIFY_WITH_TIMEOUT(window_->isMinimized(), 10000);
  const auto before = std::filesystem::last_write_time(dir_.File("Velloran.ini"));
  const auto entries = std::distance(std::filesystem::directory_iterator(dir_.Path()),
                                     std::filesystem::directory_iterator());

  QProcess second;
  second.start(QStringLiteral(VELLORAN_PROGRAM),
               {QStringLiteral("-rootfolder"), QString::fromStdString(Root())});
  ASSERT_TRUE(second.waitForStarted());
  // The second start hands over and ends; this process serves the hand-over meanwhile.
  QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 60000);
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  QTRY_COMPARE_WITH_TIMEOUT(restores, 1, 30000);
  QTRY_VERIFY_WITH_TIMEOUT(!window_->isMinimized(), 10000);
  EXPECT_TRUE(window_->isVisible());
  // The second start created nothing and wrote no setting.
  EXPECT_EQ(std::filesystem::last_write_time(dir_.File("Velloran.ini")), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()),
                          std::filesystem::directory_iterator()),
            entries);
}

// Without a display the program says so in one line and ends with an error status, whether no
// display is named or the named one cannot be reached; it creates nothing.
TEST(NoDisplayTest, OneClearLineAndAnErrorStatus) {
  velloran::test::TempDir dir;
  for (const char* display : {"", ":97"}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VELLORAN_PROGRAM),
                  {QStringLiteral("-rootfolder"), QString::fromStdString(dir.File("root"))});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << display;
    EXPECT_NE(program.exitCode(), 0) << display;
    EXPECT_EQ(program.readAllStandardError().toStdString(),
              "no display: start with -headless or set DISPLAY\n")
        << display;
    EXPECT_FALSE(std::filesystem::exists(dir.File("root"))) << display;
  }
}

}  // namespace
}  // namespace velloran::ui::test
