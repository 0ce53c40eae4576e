#include "app/FoldButton.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class FoldButtonAccessible : public QAccessibleWidget {
public:
    explicit FoldButtonAccessible(FoldButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return button()->text();
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = button()->isChecked();
        state.collapsed = !button()->isChecked();
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString& action) override {
        if (action == pressAction() && button()->isEnabled()) {
            button()->click();
        }
    }

private:
    FoldButton* button() const { return static_cast<FoldButton*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String("FoldButton") && object && object->isWidgetType()) {
        return new FoldButtonAccessible(static_cast<FoldButton*>(object));
    }
    return nullptr;
}

} // namespace

FoldButton::FoldButton(QWidget* parent) : QToolButton(parent) {
    // Asked for lazily, so the first button installs it in time for all.
    static const bool installed = (QAccessible::installFactory(accessibleFor), true);
    Q_UNUSED(installed);
    setCheckable(true);
    setArrowType(Qt::RightArrow);
    connect(this, &QToolButton::toggled, this, [this](bool expanded) {
        QAccessible::State changed;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
        setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    });
}
