#include "app/ConfigModel.h"

namespace {

bool assignFlag(const QVariant& value, quint8& field) {
    if (!value.canConvert<bool>()) {
        return false;
    }
    field = value.toBool() ? 1 : 0;
    return true;
}

} // namespace

QVariant ConfigModel::valueForKey(const QString& key) const {
    if (key == kDeviceType) {
        return deviceType_;
    }
    if (key == kIsLocked) {
        return QVariant::fromValue(isLocked_ != 0);
    }
    if (key == kDeviceName) {
        return deviceName_;
    }
    if (key == kDeviceIcon) {
        return deviceIcon_;
    }
    if (key == kOutputVolume) {
        return QVariant::fromValue(outputVolume_);
    }
    if (key == kIsLoginItem) {
        return QVariant::fromValue(isLoginItem_ != 0);
    }
    if (key == kIsRunning) {
        return QVariant::fromValue(isRunning_ != 0);
    }
    return {};
}

bool ConfigModel::setValueForKey(const QVariant& value, const QString& key) {
    QVariant old = valueForKey(key);
    bool ok = false;
    if (key == kDeviceType || key == kDeviceName) {
        ok = value.canConvert<QString>();
        if (ok) {
            (key == kDeviceType ? deviceType_ : deviceName_) = value.toString();
        }
    } else if (key == kDeviceIcon) {
        ok = value.canConvert<QIcon>();
        if (ok) {
            deviceIcon_ = value.value<QIcon>();
        }
    } else if (key == kOutputVolume) {
        qulonglong percent = value.toULongLong(&ok);
        ok = ok && percent <= 0xFFFFFFFFu;
        if (ok) {
            outputVolume_ = quint32(percent);
        }
    } else if (key == kIsLocked) {
        ok = assignFlag(value, isLocked_);
    } else if (key == kIsLoginItem) {
        ok = assignFlag(value, isLoginItem_);
    } else if (key == kIsRunning) {
        ok = assignFlag(value, isRunning_);
    }
    if (ok) {
        emit valueChanged(key, old, valueForKey(key));
    }
    return ok;
}
