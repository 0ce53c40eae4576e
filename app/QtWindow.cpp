#include "app/QtWindow.h"

platform::window::Sheet* QtWindow::attachedSheet() {
    sheet_.reset();
    if (!widget_) {
        return nullptr;
    }
    for (QDialog* dialog : widget_->findChildren<QDialog*>()) {
        if (dialog->isVisible() && dialog->windowModality() == Qt::WindowModal) {
            sheet_ = std::make_unique<DialogSheet>(dialog);
            break;
        }
    }
    return sheet_.get();
}

void QtWindow::DialogSheet::end(int returnCode) {
    if (dialog_) {
        dialog_->done(returnCode);
    }
}

void QtWindow::DialogSheet::close() {
    if (dialog_) {
        dialog_->close();
    }
}
