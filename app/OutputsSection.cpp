#include "app/OutputsSection.h"

#include "app/CeilingSlider.h"
#include "app/CeilingSpinBox.h"
#include "app/KindDisplay.h"
#include "app/SonvelaAppDelegate.h"
#include "platform/audio/OutputKinds.h"
#include "platform/fs/FileManager.h"
#include "platform/log/Log.h"
#include "shared/AppUtil.h"
#include "shared/CeilingTable.h"
#include "shared/VolumeTable.h"

#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <algorithm>

namespace {

// The volume box's value while the kind has no entry: it shows "—", not a made-up volume.
constexpr int kNoVolume = -1;
constexpr int kIconSize = 24;

QString text(const char* key) {
    return KindDisplay::text(key);
}

void logRefused(const char* what, const QString& type, const std::optional<std::string>& path) {
    std::string reason = "no folder for Sonvela's files";
    if (path) {
        auto why = VolumeTable::whyUnreadable(*path);
        reason = why                           ? why->reason
                 : platform::fs::exists(*path) ? "cannot be written"
                                               : "not there";
    }
    platform::log::nslog("%s for %s not stored in %s: %s", what, type.toStdString().c_str(),
                         platform::log::printable(path.value_or("")).c_str(), reason.c_str());
}

} // namespace

const std::vector<QString>& OutputsSection::kinds() {
    static const std::vector<QString> kinds = [] {
        std::vector<QString> all;
        for (std::string_view kind : platform::audio::kOutputKinds) {
            all.push_back(QString::fromLatin1(kind.data(), qsizetype(kind.size())));
        }
        return all;
    }();
    return kinds;
}

OutputsSection::OutputsSection(QToolButton* fold, QScrollArea* area, QGridLayout* grid,
                               QObject* parent)
    : QObject(parent), fold_(fold), area_(area), frame_(area->widget()), grid_(grid) {
    fold_->setText(text("All outputs"));
    connect(fold_, &QToolButton::toggled, this, &OutputsSection::unfold);
}

void OutputsSection::bind(ConfigModel* model) {
    model_ = model;
    connect(model, &ConfigModel::deviceTypeChanged, this, &OutputsSection::showType);
    connect(model, &ConfigModel::outputVolumeChanged, this, &OutputsSection::showActiveVolume);
}

const OutputsSection::Row* OutputsSection::row(const QString& type) const {
    auto found =
        std::find_if(rows_.begin(), rows_.end(), [&](const Row& row) { return row.type == type; });
    return found == rows_.end() ? nullptr : &*found;
}

void OutputsSection::unfold(bool unfolded) {
    QWidget* window = area_->window();
    if (!unfolded) {
        area_->hide();
        // The window's minimum follows the layout only once it is done again.
        window->layout()->activate();
        window->resize(foldedSize_);
        return;
    }
    if (rows_.empty()) {
        build();
    }
    refill();
    foldedSize_ = window->size();
    area_->show();
    fitToScreen();
}

void OutputsSection::fitToScreen() {
    QWidget* window = area_->window();
    QSize rows = frame_->sizeHint();
    area_->setMinimumWidth(rows.width() + area_->verticalScrollBar()->sizeHint().width());
    area_->setMinimumHeight(rows.height());
    window->layout()->activate();
    // The window manager's frame counts too; it is known once the window is shown.
    int decoration = window->frameGeometry().height() - window->geometry().height();
    QRect screen = window->screen()->availableGeometry();
    int room = screen.height() - decoration;
    if (int over = window->sizeHint().height() - room; over > 0) {
        // At least a row or so stays in sight.
        area_->setMinimumHeight(std::max(rows.height() - over, 3 * kIconSize));
        window->layout()->activate();
    }
    QSize wanted = window->size().expandedTo(window->sizeHint());
    int height = std::min(wanted.height(), std::max(room, window->minimumHeight()));
    window->resize(wanted.width(), height);
    // Grown downwards past the screen's end, the window moves up as far as it must.
    QPoint at = window->pos();
    if (window->isVisible() && at.y() + height + decoration > screen.bottom() + 1) {
        window->move(at.x(), std::max(screen.top(), screen.bottom() + 1 - height - decoration));
    }
}

void OutputsSection::build() {
    addHeader();
    rows_.reserve(kinds().size());
    for (const QString& type : kinds()) {
        addRow(type, grid_->rowCount());
    }
    grid_->setColumnStretch(3, 1);
}

void OutputsSection::addHeader() {
    grid_->addWidget(new QLabel(text("Output"), frame_), 0, 0, 1, 3);
    grid_->addWidget(new QLabel(text("Stored volume"), frame_), 0, 3, 1, 2);
    grid_->addWidget(new QLabel(text("Ceiling"), frame_), 0, 5);
}

void OutputsSection::addRow(const QString& type, int gridRow) {
    std::size_t index = rows_.size();
    Row& row = rows_.emplace_back();
    row.type = type;
    std::string code = type.toStdString();
    auto* icon = new QLabel(frame_);
    icon->setPixmap(KindDisplay::iconFor(code).pixmap(kIconSize, kIconSize));
    row.name = new QLabel(KindDisplay::displayNameFor(code), frame_);
    row.mark = new QLabel(frame_);
    grid_->addWidget(icon, gridRow, 0);
    grid_->addWidget(row.name, gridRow, 1);
    grid_->addWidget(row.mark, gridRow, 2);

    if (SonvelaAppDelegate::isIgnored(type)) {
        grid_->addWidget(new QLabel(text("Keeps its own volume"), frame_), gridRow, 3, 1, 2);
    } else {
        row.slider = new CeilingSlider(frame_);
        row.slider->setAccessibleName(text("%1: Stored volume").arg(row.name->text()));
        row.volume = new QSpinBox(frame_);
        row.volume->setRange(kNoVolume, 100);
        row.volume->setSpecialValueText(QStringLiteral("—"));
        row.volume->setSuffix(QStringLiteral(" %"));
        row.volume->setKeyboardTracking(false);
        row.volume->setAccessibleName(text("%1: Stored volume in percent").arg(row.name->text()));
        // As in the main controls, the box alone reports the change.
        connect(row.slider, &QSlider::valueChanged, row.volume, &QSpinBox::setValue);
        connect(row.volume, &QSpinBox::valueChanged, row.slider, &QSlider::setValue);
        connect(row.volume, &QSpinBox::valueChanged, this,
                [this, index](int percent) { volumeEdited(rows_[index], percent); });
        grid_->addWidget(row.slider, gridRow, 3);
        grid_->addWidget(row.volume, gridRow, 4);
    }

    row.ceiling = new CeilingSpinBox(text("No ceiling"), frame_);
    row.ceiling->setAccessibleName(text("%1: Ceiling").arg(row.name->text()));
    connect(row.ceiling, &QSpinBox::valueChanged, this,
            [this, index](int percent) { ceilingEdited(rows_[index], percent); });
    grid_->addWidget(row.ceiling, gridRow, 5);
}

void OutputsSection::refill() {
    QString active = model_ ? model_->deviceType() : QString();
    for (Row& row : rows_) {
        bool isActive = row.type == active;
        row.mark->setText(isActive ? text("Active") : QString());
        QFont font = row.name->font();
        font.setBold(isActive);
        row.name->setFont(font);
        if (row.volume) {
            if (isActive) {
                showVolume(row, model_->outputVolume());
            } else {
                showStoredVolume(row);
            }
        }
        showStoredCeiling(row);
    }
}

void OutputsSection::showType() {
    // Only a refresh writes the type; the files may have changed since the last one.
    if (fold_->isChecked() && !rows_.empty()) {
        refill();
    }
}

void OutputsSection::showActiveVolume(quint32 percent) {
    for (Row& row : rows_) {
        if (row.volume && row.type == model_->deviceType()) {
            showVolume(row, percent);
        }
    }
}

void OutputsSection::showStoredVolume(Row& row) {
    auto stored =
        VolumeTable::storedVolume(AppUtil::getUserConfigFilePath(), row.type.toStdString());
    showVolume(row, stored ? std::optional(KindDisplay::percentOf(*stored)) : std::nullopt);
}

void OutputsSection::showVolume(Row& row, std::optional<quint32> percent) {
    QSignalBlocker sliderBlocker(row.slider);
    QSignalBlocker boxBlocker(row.volume);
    // "—" is there only while the kind has no entry: there is no taking an entry away.
    row.volume->setMinimum(percent ? 0 : kNoVolume);
    int shown = percent ? KindDisplay::shownPercent(*percent) : kNoVolume;
    row.volume->setValue(shown);
    row.slider->setValue(std::max(shown, 0));
    row.volume->setToolTip(percent ? QString() : text("No stored volume"));
    row.percent = percent;
    showHeld(row);
}

void OutputsSection::showStoredCeiling(Row& row) {
    auto ceiling =
        CeilingTable::ceiling(CeilingTable::getUserCeilingsFilePath(), row.type.toStdString());
    QSignalBlocker blocker(row.ceiling);
    row.ceiling->setValue(ceiling ? int(KindDisplay::percentOf(*ceiling))
                                  : CeilingSpinBox::kNoCeiling);
    showHeld(row);
}

void OutputsSection::showHeld(Row& row) {
    if (!row.slider) {
        return;
    }
    int ceiling = row.ceiling->value();
    bool held =
        ceiling != CeilingSpinBox::kNoCeiling && row.percent && quint32(ceiling) < *row.percent;
    row.slider->setHeldAt(held ? std::optional(ceiling) : std::nullopt);
}

void OutputsSection::volumeEdited(Row& row, int percent) {
    if (percent == kNoVolume) {
        showStoredVolume(row);
        return;
    }
    if (model_ && row.type == model_->deviceType()) {
        // Exactly what the main slider does: the model's handler stores and applies it.
        model_->setValueForKey(QVariant::fromValue(quint32(percent)), ConfigModel::kOutputVolume);
        return;
    }
    auto path = AppUtil::getUserConfigFilePath();
    if (VolumeTable::storeVolume(path, row.type.toStdString(),
                                 KindDisplay::fractionOf(quint32(percent)))) {
        showVolume(row, quint32(percent));
    } else {
        logRefused("volume", row.type, path);
        showStoredVolume(row);
    }
}

void OutputsSection::ceilingEdited(Row& row, int percent) {
    std::optional<float> ceiling;
    if (percent != CeilingSpinBox::kNoCeiling) {
        ceiling = KindDisplay::fractionOf(quint32(percent));
    }
    // Only the file: the helper applies a ceiling at the next event.
    auto path = CeilingTable::getUserCeilingsFilePath();
    if (!CeilingTable::storeCeiling(path, row.type.toStdString(), ceiling)) {
        logRefused("ceiling", row.type, path);
        showStoredCeiling(row);
        return;
    }
    showHeld(row);
    emit ceilingStored();
}
