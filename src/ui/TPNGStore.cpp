#include "ui/TPNGStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <utility>

#include "core/Paths.h"
#include "core/TrimBlanks.h"

namespace velloran::ui {

namespace {

// "a__b" -> "a/b.png"
QString FileNameOf(const std::string& name) {
  QString file = QString::fromStdString(name);
  file.replace(QStringLiteral("__"), QStringLiteral("/"));
  return file + QStringLiteral(".png");
}

// The built-in picture of that resource name, compared ignoring case.
QString BuiltInPath(const std::string& resourceName) {
  const QString wanted = QString::fromStdString(resourceName);
  const QDir dir(QStringLiteral(":/png"));
  for (const QString& entry : dir.entryList(QDir::Files)) {
    if (entry.compare(wanted, Qt::CaseInsensitive) == 0) {
      return dir.filePath(entry);
    }
  }
  return {};
}

bool SmoothScalable(const QImage& image) {
  switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64_Premultiplied:
      return true;
    default:
      return false;
  }
}

// Smooth (bilinear) scaling works on RGB and RGBA pictures only; any other kind (palette,
// grey) falls back to a plain resize to the same size.
QImage ScaleToHeight(const QImage& image, int height) {
  const int width =
      static_cast<int>(std::lround(image.width() * static_cast<double>(height) / image.height()));
  return image.scaled(width, height, Qt::IgnoreAspectRatio,
                      SmoothScalable(image) ? Qt::SmoothTransformation : Qt::FastTransformation);
}

QImage Grayed(const QImage& source) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const int g = qGray(line[x]);
      line[x] = qRgba(g, g, g, qAlpha(line[x]));
    }
  }
  return image;
}

QImage Blended(const QImage& source) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]), qAlpha(line[x]) / 2);
    }
  }
  return image;
}

}  // namespace

TPNGStore::TPNGStore(std::string programFolder, const std::string& aliasText)
    : programFolder_(std::move(programFolder)), aliases_(ParseAliases(aliasText)) {}

std::map<std::string, std::string> TPNGStore::ParseAliases(const std::string& text) {
  std::map<std::string, std::string> aliases;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      continue;
    }
    const std::string name = TrimBlanks(line.substr(0, eq));
    const std::string alias = TrimBlanks(line.substr(eq + 1));
    if (!name.empty()) {
      aliases[name] = alias;
    }
  }
  return aliases;
}

std::string TPNGStore::BuiltInAliasText() {
  QFile file(QStringLiteral(":/text/PNGALIASES"));
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return file.readAll().toStdString();
}

std::string TPNGStore::AliasOf(const std::string& name) const {
  const auto it = aliases_.find(name);
  return it == aliases_.end() ? std::string() : it->second;
}

QImage TPNGStore::GetPNG(const std::string& iName, int iHeight, bool grayed, bool blended) {
  const TPNGParameters parameters{iHeight, grayed, blended};
  std::lock_guard<std::mutex> lock(mutex_);
  const auto byName = cache_.find(iName);
  if (byName != cache_.end()) {
    const auto hit = byName->second.find(parameters);
    if (hit != byName->second.end()) {
      return hit->second;
    }
  }
  QImage image;
  try {
    image = Load(iName, parameters);
  } catch (const std::exception&) {
    return image;  // not kept: the next request tries again
  }
  if (!image.isNull()) {
    cache_[iName][parameters] = image;
  }
  return image;
}

QImage TPNGStore::Load(const std::string& name, const TPNGParameters& parameters) const {
  const std::string alias = AliasOf(name);
  const QDir images(QString::fromStdString(programFolder_) + QStringLiteral("images"));
  QString path;
  if (QFileInfo::exists(images.filePath(FileNameOf(name)))) {
    path = images.filePath(FileNameOf(name));
  } else if (!alias.empty() && QFileInfo::exists(images.filePath(FileNameOf(alias)))) {
    path = images.filePath(FileNameOf(alias));
  } else {
    path = BuiltInPath("png_" + (alias.empty() ? name : alias) + ".png");
  }
  QImage image;
  if (path.isEmpty() || !image.load(path, "PNG")) {
    return {};
  }
  if (parameters.Height >= 0 && image.height() != parameters.Height && image.height() > 0) {
    image = ScaleToHeight(image, parameters.Height);
  }
  if (parameters.Grayed) {
    image = Grayed(image);
  }
  if (parameters.Blended) {
    image = Blended(image);
  }
  return image;
}

TPNGStore& PNGStore() {
  static TPNGStore store(GetProgramFolder(), TPNGStore::BuiltInAliasText());
  return store;
}

}  // namespace velloran::ui
