#include "ui/TAsioPage.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "audio/devices/DeviceCatalogue.h"
#include "ui/FocusOutFilter.h"

namespace velloran::ui {

std::vector<bool> LayOutBundles(std::vector<int32_t>& bundles) {
  const size_t n = bundles.size();
  std::vector<bool> enabled(n, false);
  size_t i = 0;
  while (i < n) {
    if (bundles[i] <= 0) {
      bundles[i] = 1;
    }
    enabled[i] = true;
    // The lines after a start belong to its bundle, as far as they exist.
    const size_t size = static_cast<size_t>(bundles[i]);
    i += size < n - i ? size : n - i;
  }
  return enabled;
}

TAsioPage::TAsioPage(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(
      QStringLiteral("This page allows you to modify the default stereo channel bundling for "
                     "ASIO input. Double click a line to edit the bundle size, then enter 1 for "
                     "mono, 2 for stereo etc. The changes will be active after a restart of the "
                     "software."),
      this);
  note->setWordWrap(true);
  layout->addWidget(note);
  tcDrivers = new QTabBar(this);
  tcDrivers->setExpanding(false);
  layout->addWidget(tcDrivers);
  lvChannels = new QTreeWidget(this);
  lvChannels->setRootIsDecorated(false);
  lvChannels->setColumnCount(2);
  lvChannels->setHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Bundle size")});
  lvChannels->setColumnWidth(0, 300);
  lvChannels->setColumnWidth(1, 120);
  layout->addWidget(lvChannels, 1);
  auto* form = new QFormLayout;
  auto field = [this, form](const char* label, const char* hint) {
    auto* edit = new QLineEdit(this);
    edit->setFixedWidth(80);
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    row->addWidget(new QLabel(QString::fromLatin1(hint), this));
    row->addStretch();
    form->addRow(QString::fromLatin1(label), row);
    return edit;
  };
  edBufferSize = field("Buffer size:", "0 = use driver setting");
  edSampleRate = field("Force sample rate:", "0 = use slot setting");
  edThreadCount = field("Update threads:", "1 = default");
  layout->addLayout(form);

  askBundleSize = [this](int preset) -> std::optional<QString> {
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("Bundle size"),
                                               QStringLiteral("Enter bundle size:"),
                                               QLineEdit::Normal, QString::number(preset), &ok);
    if (!ok) {
      return std::nullopt;
    }
    return text;
  };
  QObject::connect(tcDrivers, &QTabBar::currentChanged, this, [this](int) { TabChange(); });
  QObject::connect(
      lvChannels, &QTreeWidget::itemDoubleClicked, this,
      [this](QTreeWidgetItem* item, int) { EditBundle(lvChannels->indexOfTopLevelItem(item)); });
  auto* saver = saver_ = new FocusOutFilter(this, [this] {
    if (settings_ != nullptr && save)
      save();
  });
  for (QLineEdit* edit : {edBufferSize, edSampleRate, edThreadCount}) {
    QObject::connect(edit, &QLineEdit::textChanged, this,
                     [this, edit](const QString& text) { FieldChanged(edit, text); });
    saver->Watch(edit);
  }
}

TAsioPage::~TAsioPage() {
  saver_->Stop();
}

void TAsioPage::Build(app::TGlobalSettings& settings, const audio::DeviceCatalogue* catalogue) {
  settings_ = &settings;
  catalogue_ = catalogue;
  filling_ = true;
  while (tcDrivers->count() > 0) {
    tcDrivers->removeTab(0);
  }
  for (size_t k = 0; k < settings.asioDrivers.size(); ++k) {
    QString name = QStringLiteral("Driver %1").arg(k + 1);
    if (catalogue != nullptr && k < catalogue->ASIODevices().size()) {
      name = QString::fromStdString(catalogue->ASIODevices()[k]->Name());
    }
    tcDrivers->addTab(name);
  }
  filling_ = false;
  TabChange();
}

app::AsioDriverSettings* TAsioPage::Selected() {
  const int tab = tcDrivers->currentIndex();
  if (settings_ == nullptr || tab < 0 || tab >= static_cast<int>(settings_->asioDrivers.size())) {
    return nullptr;
  }
  return &settings_->asioDrivers[static_cast<size_t>(tab)];
}

void TAsioPage::TabChange() {
  if (filling_) {
    return;
  }
  lvChannels->clear();
  app::AsioDriverSettings* driver = Selected();
  if (driver == nullptr) {
    return;
  }
  filling_ = true;
  edBufferSize->setText(QString::number(driver->bufferSize));
  edSampleRate->setText(QString::number(driver->sampleRate));
  edThreadCount->setText(QString::number(driver->threadCount));
  filling_ = false;
  const size_t tab = static_cast<size_t>(tcDrivers->currentIndex());
  const audio::TASIODeviceInfo* device =
      catalogue_ != nullptr && tab < catalogue_->ASIODevices().size()
          ? catalogue_->ASIODevices()[tab].get()
          : nullptr;
  const std::vector<bool> enabled = LayOutBundles(driver->bundles);
  for (size_t i = 0; i < driver->bundles.size(); ++i) {
    const int channel = static_cast<int>(i);
    const QString name = device != nullptr ? QString::fromStdString(device->GetChannelName(channel))
                                           : QStringLiteral("Channel %1").arg(channel + 1);
    auto* item =
        new QTreeWidgetItem({name, enabled[i] ? QString::number(driver->bundles[i]) : QString()});
    if (!enabled[i]) {
      item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
    lvChannels->addTopLevelItem(item);
  }
  lvChannels->viewport()->update();
}

void TAsioPage::EditBundle(int line) {
  app::AsioDriverSettings* driver = Selected();
  if (driver == nullptr || line < 0 || line >= static_cast<int>(driver->bundles.size())) {
    return;
  }
  QTreeWidgetItem* item = lvChannels->topLevelItem(line);
  if (item == nullptr || !(item->flags() & Qt::ItemIsEnabled)) {
    return;  // inside a bundle
  }
  const int32_t preset = driver->bundles[static_cast<size_t>(line)];
  const std::optional<QString> answer = askBundleSize(preset);
  if (!answer) {
    return;  // cancelled: the preset stands
  }
  bool ok = false;
  const int size = answer->trimmed().toInt(&ok);
  driver->bundles[static_cast<size_t>(line)] = ok ? size : 2;
  TabChange();
}

void TAsioPage::FieldChanged(QLineEdit* field, const QString& text) {
  app::AsioDriverSettings* driver = Selected();
  if (filling_ || driver == nullptr) {
    return;
  }
  int32_t* value = field == edBufferSize   ? &driver->bufferSize
                   : field == edSampleRate ? &driver->sampleRate
                                           : &driver->threadCount;
  if (!app::TGlobalSettings::ApplyIntegerText(text.toStdString(), *value)) {
    return;
  }
  // The driver takes the value at its next start of capture.
  const size_t tab = static_cast<size_t>(tcDrivers->currentIndex());
  if (catalogue_ != nullptr && tab < catalogue_->ASIODevices().size()) {
    audio::TASIODeviceInfo& device = *catalogue_->ASIODevices()[tab];
    if (field == edBufferSize) {
      device.SetBufferSize(*value);
    } else if (field == edSampleRate) {
      device.SetSampleRate(*value);
    } else {
      device.SetThreadCount(*value);
    }
  }
}

}  // namespace velloran::ui
