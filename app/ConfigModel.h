#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QVariant>

// What the window shows and edits: seven properties, read and written by name. Every write
// notifies, also when the value stays the same: the refresh's lock relies on its own write
// being seen.
class ConfigModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString deviceType READ deviceType WRITE setDeviceType NOTIFY deviceTypeChanged)
    Q_PROPERTY(bool isLocked READ isLocked WRITE setIsLocked NOTIFY isLockedChanged)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(QIcon deviceIcon READ deviceIcon WRITE setDeviceIcon NOTIFY deviceIconChanged)
    Q_PROPERTY(
        quint32 outputVolume READ outputVolume WRITE setOutputVolume NOTIFY outputVolumeChanged)
    Q_PROPERTY(bool isLoginItem READ isLoginItem WRITE setIsLoginItem NOTIFY isLoginItemChanged)
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)

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
    QString deviceName() const { return deviceName_; }
    QIcon deviceIcon() const { return deviceIcon_; }
    quint32 outputVolume() const { return outputVolume_; }
    bool isLoginItem() const { return isLoginItem_ != 0; }
    bool isRunning() const { return isRunning_ != 0; }

    void setDeviceType(const QString& type);
    void setIsLocked(bool locked);
    void setDeviceName(const QString& name);
    void setDeviceIcon(const QIcon& icon);
    void setOutputVolume(quint32 percent);
    void setIsLoginItem(bool loginItem);
    void setIsRunning(bool running);

signals:
    void deviceTypeChanged(const QString& type);
    void isLockedChanged(bool locked);
    void deviceNameChanged(const QString& name);
    void deviceIconChanged(const QIcon& icon);
    void outputVolumeChanged(quint32 percent);
    void isLoginItemChanged(bool loginItem);
    void isRunningChanged(bool running);

private:
    QString deviceType_;
    quint8 isLocked_ = 0;
    QString deviceName_;
    QIcon deviceIcon_;
    quint32 outputVolume_ = 0;
    quint8 isLoginItem_ = 0;
    quint8 isRunning_ = 0;
};
