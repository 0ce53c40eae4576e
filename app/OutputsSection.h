#pragma once

#include "app/ConfigModel.h"

#include <QObject>
#include <QSize>
#include <optional>
#include <vector>

class CeilingSlider;
class CeilingSpinBox;
class QGridLayout;
class QLabel;
class QScrollArea;
class QSpinBox;
class QToolButton;
class QWidget;

// "All outputs": every kind of output with its stored volume and ceiling, read from the files
// whenever the section is unfolded and after every refresh, since other programs may change
// them. The active kind's row edits the model like the main slider; every other row writes
// only its own entry and never reaches the hardware.
class OutputsSection : public QObject {
    Q_OBJECT

public:
    // Every kind of output of the volume table, in the order shown.
    static const std::vector<QString>& kinds();

    struct Row {
        QString type;
        QLabel* name = nullptr;
        QLabel* mark = nullptr;
        // None for the internal speakers: they keep their own volume.
        CeilingSlider* slider = nullptr;
        QSpinBox* volume = nullptr;
        CeilingSpinBox* ceiling = nullptr;
        // The volume the row stands for, also above 100 %; nullopt without an entry.
        std::optional<quint32> percent;
    };

    // The section's rows live in the grid, inside the scroll area that folds with the button.
    OutputsSection(QToolButton* fold, QScrollArea* area, QGridLayout* grid, QObject* parent);

    void bind(ConfigModel* model);
    // The rows are built when the section is first unfolded: nullptr before, or for a type
    // that is not listed.
    const Row* row(const QString& type) const;

signals:
    // A ceiling edited in the section is in the file.
    void ceilingStored();

private:
    void unfold(bool unfolded);
    // As tall as the rows, or as the screen lets the window be: then the rows scroll.
    void fitToScreen();
    void build();
    void addHeader();
    void addRow(const QString& type, int gridRow);
    void refill();
    void showType();
    void showActiveVolume(quint32 percent);

    void showStoredVolume(Row& row);
    void showVolume(Row& row, std::optional<quint32> percent);
    void showStoredCeiling(Row& row);
    void showHeld(Row& row);
    void volumeEdited(Row& row, int percent);
    void ceilingEdited(Row& row, int percent);

    QToolButton* fold_;
    QScrollArea* area_;
    QWidget* frame_;
    QGridLayout* grid_;
    ConfigModel* model_ = nullptr;
    // The window's size before unfolding, given back when the section folds.
    QSize foldedSize_;
    std::vector<Row> rows_;
};
