#pragma once
// The picture store: every picture of the window by name, loaded once per name and size and
// kept until the program ends. Lookup order for a name (and its alias from the alias list,
// "name=alias" lines):
//   1. images/<name>.png beside the program, every "__" in the name standing for a folder;
//   2. images/<alias>.png the same way;
//   3. the picture built into the program as "png_<alias>", or "png_<name>" without an alias
//      (names compared ignoring case).
// A requested height scales the picture (smoothly for RGB and RGBA pictures, plainly for
// others); Grayed turns it grey, Blended makes it half transparent. A picture that cannot be
// loaded gives an empty image and is not kept, so the next request tries again.
// Thread contract: any thread; GetPNG takes the store's own lock.
#include <QImage>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace velloran::ui {

struct TPNGParameters {
  int Height = -1;  // -1: the picture's own size
  bool Grayed = false;
  bool Blended = false;
  bool operator<(const TPNGParameters& o) const {
    return std::tie(Height, Grayed, Blended) < std::tie(o.Height, o.Grayed, o.Blended);
  }
};

class TPNGStore {
 public:
  // programFolder ends with "/"; aliasText holds the "name=alias" lines.
  TPNGStore(std::string programFolder, const std::string& aliasText);

  QImage GetPNG(const std::string& iName, int iHeight = -1, bool Grayed = false,
                bool Blended = false);

  // The alias of a name, empty when it has none.
  std::string AliasOf(const std::string& name) const;

  // "name=alias" lines; blank lines and lines without "=" are skipped, blanks around the
  // parts are dropped.
  static std::map<std::string, std::string> ParseAliases(const std::string& text);
  // The alias list built into the program.
  static std::string BuiltInAliasText();

 private:
  QImage Load(const std::string& name, const TPNGParameters& parameters) const;

  std::string programFolder_;
  std::map<std::string, std::string> aliases_;
  std::mutex mutex_;
  std::map<std::string, std::map<TPNGParameters, QImage>> cache_;
};

// The program's one store (program folder and built-in alias list), made on first use.
TPNGStore& PNGStore();

}  // namespace velloran::ui
