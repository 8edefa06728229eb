#include "ui/TPNGStore.h"

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace velloran::ui::test {
namespace {

class PNGStoreTest : public ::testing::Test {
 protected:
  // A picture of one colour under images/ of the program folder.
  void Put(const std::string& relative, int size, QColor colour,
           QImage::Format format = QImage::Format_ARGB32) {
    const std::filesystem::path path = dir_.Path() / "images" / relative;
    std::filesystem::create_directories(path.parent_path());
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.convertToFormat(format).save(QString::fromStdString(path.string()), "PNG"));
  }
  std::string Folder() const { return dir_.Path().string() + "/"; }

  velloran::test::TempDir dir_;
};

TEST_F(PNGStoreTest, AliasesOfTheProgram) {
  const auto aliases = TPNGStore::ParseAliases(TPNGStore::BuiltInAliasText());
  ASSERT_EQ(aliases.size(), 3u);
  EXPECT_EQ(aliases.at("status_ok"), "nuvola__48x48__actions__ledlightgreen");
  EXPECT_EQ(aliases.at("status_disabled"), "nuvola__48x48__actions__ledred");
  EXPECT_EQ(aliases.at("status_error"), "nuvola__48x48__actions__messagebox_warning");
  const auto parsed = TPNGStore::ParseAliases("a = b\r\n\nno alias\n=x\nc=d");
  EXPECT_EQ(parsed, (std::map<std::string, std::string>{{"a", "b"}, {"c", "d"}}));
}

TEST_F(PNGStoreTest, LookupOrderNameFileAliasFileBuiltIn) {
  TPNGStore builtIn(Folder(), TPNGStore::BuiltInAliasText());
  for (const char* name : {"status_ok", "status_disabled", "status_error"}) {
    const QImage image = builtIn.GetPNG(name);
    EXPECT_EQ(image.size(), QSize(48, 48)) << name;
    EXPECT_TRUE(image.hasAlphaChannel()) << name;
  }
  // Built-in names compare without regard to case.
  EXPECT_FALSE(builtIn.GetPNG("VELLORAN").isNull());

  Put("nuvola/48x48/actions/ledlightgreen.png", 10, Qt::blue);  // the alias, "__" as folders
  TPNGStore aliasFile(Folder(), TPNGStore::BuiltInAliasText());
  EXPECT_EQ(aliasFile.GetPNG("status_ok").size(), QSize(10, 10));
  Put("status_ok.png", 12, Qt::green);  // the name itself comes first
  TPNGStore nameFile(Folder(), TPNGStore::BuiltInAliasText());
  EXPECT_EQ(nameFile.GetPNG("status_ok").size(), QSize(12, 12));
  // Once loaded, a picture stays what it was.
  std::filesystem::remove(dir_.Path() / "images" / "status_ok.png");
  EXPECT_EQ(nameFile.GetPNG("status_ok").size(), QSize(12, 12));
}

TEST_F(PNGStoreTest, FailuresGiveAnEmptyPictureAndAreTriedAgain) {
  TPNGStore store(Folder(), "");
  EXPECT_TRUE(store.GetPNG("later").isNull());
  Put("later.png", 8, Qt::red);
  EXPECT_EQ(store.GetPNG("later").size(), QSize(8, 8));  // the miss was not kept

  std::filesystem::create_directories(dir_.Path() / "images");
  std::ofstream(dir_.Path() / "images" / "broken.png") << "not a picture";
  EXPECT_TRUE(store.GetPNG("broken").isNull());
  EXPECT_TRUE(store.GetPNG("broken", 24, true, true).isNull());
}

TEST_F(PNGStoreTest, HeightGreyAndHalfTransparent) {
  Put("red.png", 48, Qt::red);
  Put("grey.png", 48, QColor(90, 90, 90), QImage::Format_Grayscale8);
  TPNGStore store(Folder(), "");
  const QImage small = store.GetPNG("red", 24);
  EXPECT_EQ(small.size(), QSize(24, 24));
  EXPECT_EQ(small.pixelColor(12, 12), QColor(Qt::red));
  EXPECT_EQ(store.GetPNG("red", -1).size(), QSize(48, 48));
  // A grey picture cannot be scaled smoothly: it is resized plainly to the same size.
  EXPECT_EQ(store.GetPNG("grey", 16).size(), QSize(16, 16));
  const QColor grayed = store.GetPNG("red", -1, true, false).pixelColor(5, 5);
  EXPECT_EQ(grayed.red(), grayed.green());
  EXPECT_EQ(grayed.green(), grayed.blue());
  EXPECT_EQ(grayed.alpha(), 255);
  EXPECT_EQ(store.GetPNG("red", -1, false, true).pixelColor(5, 5).alpha(), 127);
  EXPECT_EQ(store.GetPNG("red").pixelColor(5, 5).alpha(), 255);  // each variant kept apart
}

}  // namespace
}  // namespace velloran::ui::test
