#pragma once

#include <QSpinBox>

// A ceiling in whole percent from 0 to 100; one step above 100 is "no ceiling". The step that
// takes a ceiling away goes up, so no arrow click ever lands on a ceiling of 0 by accident.
class CeilingSpinBox : public QSpinBox {
    Q_OBJECT

public:
    static constexpr int kNoCeiling = 101;

    CeilingSpinBox(QString noCeilingText, QWidget* parent);

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
    QValidator::State validate(QString& text, int& pos) const override;

private:
    QString noCeilingText_;
};
