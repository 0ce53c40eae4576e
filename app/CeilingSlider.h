#pragma once

#include <QSlider>
#include <optional>

// A volume slider that marks on its groove where a ceiling holds the volume, and says so to
// the pointer (tool tip) and to screen readers (description).
class CeilingSlider : public QSlider {
    Q_OBJECT

public:
    explicit CeilingSlider(QWidget* parent = nullptr);

    // nullopt: nothing holds the volume.
    void setHeldAt(std::optional<int> percent);
    std::optional<int> heldAt() const { return heldAt_; }
    // "Held at 60 % by its ceiling", or empty.
    QString heldText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<int> heldAt_;
};
