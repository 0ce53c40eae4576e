#pragma once

#include <QIcon>
#include <QString>
#include <string>

// How a kind of output and its volumes show in the window.
class KindDisplay {
public:
    KindDisplay() = delete;

    // Whole percent of a volume fraction. Fractions that we stored for a whole percent come
    // back a hair below it (0.53 is stored as 0.52999997); those show as the percent set.
    static quint32 percentOf(float volume);
    // The volume fraction a whole percent stands for, as it is stored and set.
    static float fractionOf(quint32 percent);
    // Where a percent sits on a control that ends at 100 %: above it, at the end.
    static int shownPercent(quint32 percent);
    // The display name and icon of a kind of output, from the bundle's strings tables.
    static QString displayNameFor(const std::string& outputType);
    static QIcon iconFor(const std::string& outputType);
    // A text of the bundle's default strings table.
    static QString text(const char* key);
};
