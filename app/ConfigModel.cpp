#include "app/ConfigModel.h"

#include <QMetaProperty>
#include <optional>

namespace {

// One of the model's own properties; QObject's (objectName) are no keys of the model.
QMetaProperty ownProperty(const QString& key) {
    const QMetaObject& meta = ConfigModel::staticMetaObject;
    int index = meta.indexOfProperty(key.toUtf8().constData());
    return index >= meta.propertyOffset() ? meta.property(index) : QMetaProperty();
}

// The value as the property's type, when it is one: a volume is a whole number that fits
// 32 bits, never a wrapped negative one.
std::optional<QVariant> converted(const QVariant& value, QMetaType type) {
    if (type == QMetaType::fromType<quint32>()) {
        bool ok = false;
        qulonglong percent = value.toULongLong(&ok);
        if (!ok || percent > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        return QVariant::fromValue(quint32(percent));
    }
    QVariant result = value;
    if (!result.canConvert(type) || !result.convert(type)) {
        return std::nullopt;
    }
    return result;
}

} // namespace

QVariant ConfigModel::valueForKey(const QString& key) const {
    QMetaProperty property = ownProperty(key);
    return property.isValid() ? property.read(this) : QVariant();
}

bool ConfigModel::setValueForKey(const QVariant& value, const QString& key) {
    QMetaProperty property = ownProperty(key);
    if (!property.isValid()) {
        return false;
    }
    auto typed = converted(value, property.metaType());
    return typed && property.write(this, *typed);
}

void ConfigModel::setDeviceType(const QString& type) {
    deviceType_ = type;
    emit deviceTypeChanged(deviceType_);
}

void ConfigModel::setIsLocked(bool locked) {
    isLocked_ = locked ? 1 : 0;
    emit isLockedChanged(locked);
}

void ConfigModel::setDeviceName(const QString& name) {
    deviceName_ = name;
    emit deviceNameChanged(deviceName_);
}

void ConfigModel::setDeviceIcon(const QIcon& icon) {
    deviceIcon_ = icon;
    emit deviceIconChanged(deviceIcon_);
}

void ConfigModel::setOutputVolume(quint32 percent) {
    outputVolume_ = percent;
    emit outputVolumeChanged(percent);
}

void ConfigModel::setIsLoginItem(bool loginItem) {
    isLoginItem_ = loginItem ? 1 : 0;
    emit isLoginItemChanged(loginItem);
}

void ConfigModel::setIsRunning(bool running) {
    isRunning_ = running ? 1 : 0;
    emit isRunningChanged(running);
}
