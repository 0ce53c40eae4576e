#pragma once

#include "platform/window/Window.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <memory>

// A Qt window as the shared code sees it: its sheet is a visible window-modal dialog on it.
class QtWindow : public platform::window::Window {
public:
    explicit QtWindow(QWidget* widget) : widget_(widget) {}
    platform::window::Sheet* attachedSheet() override;

private:
    class DialogSheet : public platform::window::Sheet {
    public:
        explicit DialogSheet(QDialog* dialog) : dialog_(dialog) {}
        void end(int returnCode) override;
        void close() override;

    private:
        QPointer<QDialog> dialog_;
    };

    QPointer<QWidget> widget_;
    std::unique_ptr<DialogSheet> sheet_;
};
