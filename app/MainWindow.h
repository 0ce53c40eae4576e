#pragma once

#include "app/ConfigModel.h"
#include "app/OutputsSection.h"

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

// The window: shows the model and writes the user's changes into it. Values that come from the
// model are shown with the controls' signals blocked, so they never come back as user changes.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void bind(ConfigModel* model);
    // Asked before the window closes; closing is refused when it answers false.
    void setShouldClose(std::function<bool()> shouldClose) {
        shouldClose_ = std::move(shouldClose);
    }

    Ui::MainWindow& ui() { return *ui_; }
    OutputsSection& outputs() { return *outputs_; }

    // The running switch takes no clicks while the helper is being stopped.
    void setRunningSwitchWaiting(bool waiting);

signals:
    // The window was shown or hidden.
    void shownChanged(bool shown);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showDeviceType(const QString& type);
    void showVolume(quint32 percent);
    // Where the active kind's ceiling holds its volume, when it does.
    void showHeld();

    std::unique_ptr<Ui::MainWindow> ui_;
    OutputsSection* outputs_;
    ConfigModel* model_ = nullptr;
    std::function<bool()> shouldClose_;
};
