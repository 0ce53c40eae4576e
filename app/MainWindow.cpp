#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QSignalBlocker>

MainWindow::MainWindow(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    outputs_ =
        new OutputsSection(ui_->outputsFoldButton, ui_->outputsFrame, ui_->outputsGrid, this);
}

MainWindow::~MainWindow() = default;

void MainWindow::bind(ConfigModel* model) {
    model_ = model;
    outputs_->bind(model);
    for (const QString& key :
         {ConfigModel::kDeviceType, ConfigModel::kDeviceName, ConfigModel::kDeviceIcon,
          ConfigModel::kOutputVolume, ConfigModel::kIsRunning, ConfigModel::kIsLoginItem}) {
        showValue(key, model->valueForKey(key));
    }
    connect(model, &ConfigModel::valueChanged, this,
            [this](const QString& key, const QVariant&, const QVariant& value) {
                showValue(key, value);
            });

    // The slider drives the spin box (see the .ui), so the spin box alone reports the change.
    // A typed percent reports when the edit ends (no keyboard tracking): typing "75" must not
    // apply 7 % first.
    connect(ui_->volumeSpinBox, &QSpinBox::valueChanged, this, [this](int percent) {
        model_->setValueForKey(QVariant::fromValue(quint32(percent)), ConfigModel::kOutputVolume);
    });
    connect(ui_->runningCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { model_->setValueForKey(on, ConfigModel::kIsRunning); });
    connect(ui_->loginItemCheckBox, &QCheckBox::toggled, this,
            [this](bool on) { model_->setValueForKey(on, ConfigModel::kIsLoginItem); });
}

void MainWindow::setRunningSwitchWaiting(bool waiting) {
    ui_->runningCheckBox->setDisabled(waiting);
}

void MainWindow::showValue(const QString& key, const QVariant& value) {
    if (key == ConfigModel::kDeviceType) {
        // Without an output there is no volume to set.
        bool hasOutput = !value.toString().isEmpty();
        ui_->volumeSlider->setEnabled(hasOutput);
        ui_->volumeSpinBox->setEnabled(hasOutput);
    } else if (key == ConfigModel::kDeviceName) {
        ui_->deviceNameLabel->setText(value.toString());
    } else if (key == ConfigModel::kDeviceIcon) {
        ui_->deviceIconLabel->setPixmap(value.value<QIcon>().pixmap(64, 64));
    } else if (key == ConfigModel::kOutputVolume) {
        // Stored volumes above 100 % show at the end of the scale.
        int percent = int(std::min<quint32>(value.toUInt(), 100));
        QSignalBlocker sliderBlocker(ui_->volumeSlider);
        QSignalBlocker spinBlocker(ui_->volumeSpinBox);
        ui_->volumeSlider->setValue(percent);
        ui_->volumeSpinBox->setValue(percent);
    } else if (key == ConfigModel::kIsRunning) {
        QSignalBlocker blocker(ui_->runningCheckBox);
        ui_->runningCheckBox->setChecked(value.toBool());
    } else if (key == ConfigModel::kIsLoginItem) {
        QSignalBlocker blocker(ui_->loginItemCheckBox);
        ui_->loginItemCheckBox->setChecked(value.toBool());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose_ && !shouldClose_()) {
        event->ignore();
        return;
    }
    event->accept();
}
