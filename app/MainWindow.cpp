#include "app/MainWindow.h"

#include "app/KindDisplay.h"
#include "shared/CeilingTable.h"

#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QSignalBlocker>

namespace {

// The volume box's value while there is no output: it shows no number, not a made-up volume.
constexpr int kNoVolume = -1;

} // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    ui_->volumeSpinBox->setSpecialValueText(QStringLiteral("—"));
    outputs_ =
        new OutputsSection(ui_->outputsFoldButton, ui_->outputsScrollArea, ui_->outputsGrid, this);
    connect(outputs_, &OutputsSection::ceilingStored, this, &MainWindow::showHeld);
}

MainWindow::~MainWindow() = default;

void MainWindow::bind(ConfigModel* model) {
    model_ = model;
    outputs_->bind(model);
    showDeviceType(model->deviceType());
    ui_->deviceNameLabel->setText(model->deviceName());
    ui_->deviceIconLabel->setPixmap(model->deviceIcon().pixmap(64, 64));
    showVolume(model->outputVolume());
    ui_->runningCheckBox->setChecked(model->isRunning());
    ui_->loginItemCheckBox->setChecked(model->isLoginItem());

    connect(model, &ConfigModel::deviceTypeChanged, this, &MainWindow::showDeviceType);
    connect(model, &ConfigModel::deviceNameChanged, ui_->deviceNameLabel, &QLabel::setText);
    connect(model, &ConfigModel::deviceIconChanged, this,
            [this](const QIcon& icon) { ui_->deviceIconLabel->setPixmap(icon.pixmap(64, 64)); });
    connect(model, &ConfigModel::outputVolumeChanged, this, &MainWindow::showVolume);
    connect(model, &ConfigModel::isRunningChanged, this, [this](bool running) {
        QSignalBlocker blocker(ui_->runningCheckBox);
        ui_->runningCheckBox->setChecked(running);
    });
    connect(model, &ConfigModel::isLoginItemChanged, this, [this](bool loginItem) {
        QSignalBlocker blocker(ui_->loginItemCheckBox);
        ui_->loginItemCheckBox->setChecked(loginItem);
    });

    // The slider drives the spin box (see the .ui), so the spin box alone reports the change.
    // A typed percent reports when the edit ends (no keyboard tracking): typing "75" must not
    // apply 7 % first.
    connect(ui_->volumeSpinBox, &QSpinBox::valueChanged, this, [this](int percent) {
        if (percent != kNoVolume) {
            model_->setValueForKey(QVariant::fromValue(quint32(percent)),
                                   ConfigModel::kOutputVolume);
        }
    });
    connect(ui_->runningCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { model_->setValueForKey(on, ConfigModel::kIsRunning); });
    connect(ui_->loginItemCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { model_->setValueForKey(on, ConfigModel::kIsLoginItem); });
}

void MainWindow::setRunningSwitchWaiting(bool waiting) {
    ui_->runningCheckBox->setDisabled(waiting);
}

void MainWindow::showDeviceType(const QString& type) {
    // Without an output there is no volume to set, nor one to show.
    bool hasOutput = !type.isEmpty();
    ui_->volumeSlider->setEnabled(hasOutput);
    ui_->volumeSpinBox->setEnabled(hasOutput);
    showVolume(model_ ? model_->outputVolume() : 0);
}

void MainWindow::showVolume(quint32 percent) {
    bool hasOutput = model_ && !model_->deviceType().isEmpty();
    int shown = hasOutput ? KindDisplay::shownPercent(percent) : kNoVolume;
    QSignalBlocker sliderBlocker(ui_->volumeSlider);
    QSignalBlocker spinBlocker(ui_->volumeSpinBox);
    ui_->volumeSpinBox->setMinimum(hasOutput ? 0 : kNoVolume);
    ui_->volumeSpinBox->setValue(shown);
    ui_->volumeSlider->setValue(std::max(shown, 0));
    showHeld();
}

void MainWindow::showHeld() {
    std::optional<int> held;
    if (model_ && !model_->deviceType().isEmpty()) {
        auto ceiling = CeilingTable::ceiling(CeilingTable::getUserCeilingsFilePath(),
                                             model_->deviceType().toStdString());
        quint32 limit = ceiling ? KindDisplay::percentOf(*ceiling) : 0;
        if (ceiling && limit < model_->outputVolume()) {
            held = KindDisplay::shownPercent(limit);
        }
    }
    ui_->volumeSlider->setHeldAt(held);
    ui_->heldLabel->setText(ui_->volumeSlider->heldText());
    ui_->heldLabel->setVisible(held.has_value());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose_ && !shouldClose_()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    emit shownChanged(true);
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit shownChanged(false);
}
