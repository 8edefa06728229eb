// Pictures of the window with four generator slots (recording, stopped, encoder error, outgoing
// stream connecting), kept under the build tree as test artefacts for a person to look at.
#include <gtest/gtest.h>

#include <QDir>
#include <QPixmap>
#include <QTest>
#include <filesystem>

#include "WindowFixture.h"
#include "ui/TileComposition.h"

namespace velloran::ui::test {
namespace {

// The slot module has no outgoing-stream state yet: this view shows slot 3's stream as
// connecting, everything else as the slots report it.
class ConnectingStreamView : public SlotView {
 public:
  explicit ConnectingStreamView(std::unique_ptr<SlotView> inner) : inner_(std::move(inner)) {}
  int Count() const override { return inner_->Count(); }
  TileState State(int index) const override {
    TileState state = inner_->State(index);
    if (index == 3) {
      state.streamingStatus = slots::ssConnecting;
      state.streamingMessage = "icecast.example.org:8000";
    }
    return state;
  }
  void Peaks(int index, float& left, float& right) const override {
    inner_->Peaks(index, left, right);
  }
  void SetEnabled(int index, bool enabled) override { inner_->SetEnabled(index, enabled); }

 private:
  std::unique_ptr<SlotView> inner_;
};

using ScreenshotTest = WindowFixture;

TEST_F(ScreenshotTest, FourGeneratorSlots) {
  WriteIni(
      "[General]\nSlotCount=4\n"
      "[Slot0]\nName=Studio A\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
      "Folder=%ROOT%studio-a\n"
      "[Slot1]\nName=Studio B\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\nEnabled=off\n"
      "Folder=%ROOT%studio-b\n"
      "[Slot2]\nName=Archive\nSource=Soundcard\nDevice=GEN:ramp\nFormat=customraw\n"
      "EncoderFilename=/nonexistent/encoder\nNominalLevel=-20\nFolder=%ROOT%archive\n"
      "[Slot3]\nName=Web Stream\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
      "StreamingEnabled=on\nNominalLevel=-20\nFolder=%ROOT%web\n");
  Start([](std::unique_ptr<SlotView> inner) {
    return std::make_unique<ConnectingStreamView>(std::move(inner));
  });
  app_->timTimerTimer();  // the first rotation check starts the files
  ASSERT_NE(Slot(0).Encoder(), 0u);
  ASSERT_EQ(Slot(2).Encoder(), 0u);
  // The pull threads measure the tone on the system clock.
  QTRY_VERIFY_WITH_TIMEOUT(
      Slot(0).LevelLeft() > 0 && Slot(3).LevelLeft() > 0 && Slot(2).LevelLeft() > 0, 30000);
  window_->RepaintTiles();

  struct Expect {
    TileStatus status;
    const char* line;  // the line below the source
  };
  const Expect expected[] = {{TileStatus::tsOK, ""},
                             {TileStatus::tsDisabled, "Encoder stopped"},
                             {TileStatus::tsError, "Encoder error: "},
                             {TileStatus::tsError, "Stream connecting... - icecast"}};
  for (int i = 0; i < 4; ++i) {
    const TileComposition tile = ComposeTile(view_->State(i), 0);
    EXPECT_EQ(tile.status, expected[i].status) << i;
    bool found = false;
    for (const TileText& text : tile.texts) {
      found = found || text.text.rfind(expected[i].line, 0) == 0;
    }
    EXPECT_TRUE(found) << i << ": " << expected[i].line;
  }

  const QString folder = QStringLiteral(VELLORAN_ARTIFACT_DIR);
  ASSERT_TRUE(QDir().mkpath(folder));
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  window_->activateWindow();
  window_->Grid().setFocus();
  ASSERT_TRUE(window_->Grid().FocusTile(0, 0));
  QTest::qWait(50);  // let the paint events run
  const QPixmap single = window_->grab();
  EXPECT_EQ(single.size(), QSize(454, 504));
  ASSERT_TRUE(single.save(folder + QStringLiteral("/window-four-slots.png")));

  window_->Grid().ClearTileFocus();
  window_->resize(900, 260);
  window_->IncreaseColumnsItem().trigger();
  QTest::qWait(50);
  ASSERT_TRUE(window_->grab().save(folder + QStringLiteral("/window-four-slots-two-columns.png")));
}

}  // namespace
}  // namespace velloran::ui::test
