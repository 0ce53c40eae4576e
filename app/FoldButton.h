#pragma once

#include <QToolButton>

// The button that folds a section away and back. It is a push button to screen readers that
// says whether the section is expanded or collapsed, not a check box.
class FoldButton : public QToolButton {
    Q_OBJECT

public:
    explicit FoldButton(QWidget* parent = nullptr);
};
