#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QVariant>

// What the window shows and edits, read and written by key. Every write notifies, also when
// the value stays the same: the refresh's lock relies on its own write being seen.
class ConfigModel : public QObject {
    Q_OBJECT

public:
    static inline const QString kDeviceType = QStringLiteral("deviceType");
    static inline const QString kIsLocked = QStringLiteral("isLocked");
    static inline const QString kDeviceName = QStringLiteral("deviceName");
    static inline const QString kDeviceIcon = QStringLiteral("deviceIcon");
    static inline const QString kOutputVolume = QStringLiteral("outputVolume");
    static inline const QString kIsLoginItem = QStringLiteral("isLoginItem");
    static inline const QString kIsRunning = QStringLiteral("isRunning");

    using QObject::QObject;

    // An invalid QVariant for a key the model does not have.
    QVariant valueForKey(const QString& key) const;
    // False, and nothing written, for an unknown key or a value that does not convert.
    bool setValueForKey(const QVariant& value, const QString& key);

    QString deviceType() const { return deviceType_; }
    bool isLocked() const { return isLocked_ != 0; }
    quint32 outputVolume() const { return outputVolume_; }
    bool isLoginItem() const { return isLoginItem_ != 0; }
    bool isRunning() const { return isRunning_ != 0; }

signals:
    void valueChanged(const QString& key, const QVariant& oldValue, const QVariant& newValue);

private:
    QString deviceType_;
    quint8 isLocked_ = 0;
    QString deviceName_;
    QIcon deviceIcon_;
    quint32 outputVolume_ = 0;
    quint8 isLoginItem_ = 0;
    quint8 isRunning_ = 0;
};
