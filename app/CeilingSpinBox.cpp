#include "app/CeilingSpinBox.h"

namespace {

// "60 %", "60%" and "60" all read as 60; nullopt for anything that is not such a number.
std::optional<int> percentIn(const QString& text) {
    QString digits = text;
    digits.remove(QLatin1Char('%'));
    bool ok = false;
    int percent = digits.trimmed().toInt(&ok);
    return ok ? std::optional(percent) : std::nullopt;
}

} // namespace

CeilingSpinBox::CeilingSpinBox(QString noCeilingText, QWidget* parent)
    : QSpinBox(parent), noCeilingText_(std::move(noCeilingText)) {
    setRange(0, kNoCeiling);
    setValue(kNoCeiling);
    // Like the volume boxes: a typed ceiling takes effect when the edit ends.
    setKeyboardTracking(false);
}

QString CeilingSpinBox::textFromValue(int value) const {
    // The suffix is part of the number here: "no ceiling" has none.
    return value == kNoCeiling ? noCeilingText_ : QStringLiteral("%1 %").arg(value);
}

int CeilingSpinBox::valueFromText(const QString& text) const {
    if (text.trimmed().compare(noCeilingText_, Qt::CaseInsensitive) == 0) {
        return kNoCeiling;
    }
    return percentIn(text).value_or(value());
}

QValidator::State CeilingSpinBox::validate(QString& text, int&) const {
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return QValidator::Intermediate;
    }
    if (noCeilingText_.startsWith(trimmed, Qt::CaseInsensitive)) {
        return trimmed.size() == noCeilingText_.size() ? QValidator::Acceptable
                                                       : QValidator::Intermediate;
    }
    auto percent = percentIn(trimmed);
    return percent && *percent >= 0 && *percent <= 100 ? QValidator::Acceptable
                                                       : QValidator::Invalid;
}
