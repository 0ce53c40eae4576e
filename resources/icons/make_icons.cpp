// Draws Sonvela's icons: one per kind of output and the application icon, a white glyph on a
// coloured rounded square. Run at build time, so the pictures live as code, not as binaries.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>

namespace {

using Glyph = std::function<void(QPainter&)>;

// Glyphs are drawn on a 100 x 100 canvas.
QPen stroke(qreal width = 7) {
    return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void speaker(QPainter& p) {
    QPainterPath body;
    body.moveTo(18, 40);
    body.lineTo(32, 40);
    body.lineTo(50, 24);
    body.lineTo(50, 76);
    body.lineTo(32, 60);
    body.lineTo(18, 60);
    body.closeSubpath();
    p.setPen(stroke(5));
    p.setBrush(Qt::white);
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(44, 36, 18, 28), -60 * 16, 120 * 16);
    p.drawArc(QRectF(42, 26, 34, 48), -60 * 16, 120 * 16);
}

void headphones(QPainter& p) {
    p.setPen(stroke(8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(20, 18, 60, 60), 0, 180 * 16);
    p.setPen(stroke(4));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(14, 48, 16, 30), 6, 6);
    p.drawRoundedRect(QRectF(70, 48, 16, 30), 6, 6);
}

void headset(QPainter& p) {
    headphones(p);
    p.setPen(stroke(5));
    p.setBrush(Qt::NoBrush);
    QPainterPath boom;
    boom.moveTo(22, 78);
    boom.quadTo(24, 90, 46, 88);
    p.drawPath(boom);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(50, 88), 5, 5);
}

void screen(QPainter& p) {
    p.setPen(stroke(6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(14, 20, 72, 48), 5, 5);
    p.drawLine(QPointF(50, 68), QPointF(50, 80));
    p.drawLine(QPointF(34, 82), QPointF(66, 82));
}

void bluetooth(QPainter& p) {
    QPainterPath rune;
    rune.moveTo(30, 34);
    rune.lineTo(66, 64);
    rune.lineTo(50, 80);
    rune.lineTo(50, 20);
    rune.lineTo(66, 36);
    rune.lineTo(30, 66);
    p.setPen(stroke(7));
    p.setBrush(Qt::NoBrush);
    p.drawPath(rune);
}

void usb(QPainter& p) {
    p.setPen(stroke(6));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(50, 18), QPointF(50, 78));
    p.drawLine(QPointF(50, 62), QPointF(30, 48));
    p.drawLine(QPointF(30, 48), QPointF(30, 38));
    p.drawLine(QPointF(50, 54), QPointF(70, 42));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(50, 80), 7, 7);
    p.drawEllipse(QPointF(30, 34), 5, 5);
    p.drawRect(QRectF(66, 32, 9, 9));
    QPainterPath tip;
    tip.moveTo(42, 24);
    tip.lineTo(50, 12);
    tip.lineTo(58, 24);
    tip.closeSubpath();
    p.drawPath(tip);
}

void optical(QPainter& p) {
    p.setPen(stroke(6));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(18, 30, 40, 40), 6, 6);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(38, 50), 7, 7);
    p.setPen(stroke(5));
    for (int i = 0; i < 3; ++i) {
        qreal y = 38 + i * 12;
        p.drawLine(QPointF(64, y), QPointF(84, y));
    }
}

void jack(QPainter& p) {
    p.setPen(stroke(5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(40, 56, 20, 30), 4, 4);
    p.drawRect(QRectF(45, 30, 10, 26));
    QPainterPath tip;
    tip.moveTo(45, 30);
    tip.lineTo(50, 16);
    tip.lineTo(55, 30);
    tip.closeSubpath();
    p.drawPath(tip);
    p.setPen(QPen(QColor(0, 0, 0, 90), 3));
    p.drawLine(QPointF(45, 38), QPointF(55, 38));
    p.drawLine(QPointF(45, 46), QPointF(55, 46));
}

void network(QPainter& p) {
    p.setPen(stroke(5));
    p.drawLine(QPointF(50, 28), QPointF(26, 72));
    p.drawLine(QPointF(50, 28), QPointF(74, 72));
    p.drawLine(QPointF(26, 72), QPointF(74, 72));
    p.setBrush(Qt::white);
    for (QPointF node : {QPointF(50, 28), QPointF(26, 72), QPointF(74, 72)}) {
        p.drawEllipse(node, 10, 10);
    }
}

void wave(QPainter& p) {
    QPainterPath path;
    path.moveTo(14, 50);
    for (int x = 14; x <= 86; ++x) {
        qreal t = (x - 14) / 72.0;
        path.lineTo(x, 50 - qSin(t * 4 * M_PI) * 26 * qSin(t * M_PI));
    }
    p.setPen(stroke(6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void appIcon(QPainter& p) {
    speaker(p);
    p.setPen(stroke(4));
    p.setBrush(Qt::white);
    // Three level bars: a volume for each output.
    for (int i = 0; i < 3; ++i) {
        qreal height = 10 + i * 8;
        p.drawRoundedRect(QRectF(66 + i * 10, 84 - height, 5, height), 2, 2);
    }
}

QImage render(const Glyph& glyph, QColor colour, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    QLinearGradient fill(0, 0, 0, 100);
    fill.setColorAt(0, colour.lighter(125));
    fill.setColorAt(1, colour.darker(115));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 20, 20);
    glyph(p);
    return image;
}

QByteArray png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void appendBigEndian(QByteArray& out, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(char((value >> shift) & 0xff));
    }
}

// An .icns whose entries are all PNG: Qt's reader cannot decode the JPEG 2000 ones.
QByteArray icns(const Glyph& glyph, QColor colour) {
    const std::pair<const char*, int> entries[] = {{"icp4", 16},  {"icp5", 32},  {"icp6", 64},
                                                   {"ic07", 128}, {"ic08", 256}, {"ic09", 512}};
    QByteArray body;
    for (const auto& [type, size] : entries) {
        QByteArray data = png(render(glyph, colour, size));
        body.append(type, 4);
        appendBigEndian(body, quint32(data.size() + 8));
        body.append(data);
    }
    QByteArray file("icns", 4);
    appendBigEndian(file, quint32(body.size() + 8));
    return file + body;
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The application icon in the sizes that menus, docks and software centres ask an icon theme
// for: <theme>/<n>x<n>/apps/<name>.png.
bool writeThemeIcons(const QString& theme, const Glyph& glyph, QColor colour) {
    for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        QString folder = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
        if (!QDir().mkpath(folder) ||
            !write(folder + "/org.sonvela.Sonvela.png", png(render(glyph, colour, size)))) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Painting into images needs no display, and so no application object.
    if (argc != 3) {
        qWarning("usage: make_icons RESOURCES_FOLDER ICON_THEME_FOLDER");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const struct {
        const char* file;
        Glyph glyph;
        QColor colour;
    } icons[] = {
        {"speakers.png", speaker, QColor(0x4a, 0x6f, 0xa5)},
        {"headphones.png", headphones, QColor(0x8e, 0x44, 0xad)},
        {"headset.png", headset, QColor(0x6c, 0x3f, 0x9e)},
        {"hdmi.png", screen, QColor(0x2c, 0x3e, 0x50)},
        {"bluetooth.png", bluetooth, QColor(0x1e, 0x73, 0xe8)},
        {"usb.png", usb, QColor(0x27, 0xae, 0x60)},
        {"spdif.png", optical, QColor(0xd3, 0x54, 0x00)},
        {"line.png", jack, QColor(0x7f, 0x8c, 0x8d)},
        {"network.png", network, QColor(0x16, 0xa0, 0x85)},
        {"other.png", wave, QColor(0x95, 0xa5, 0xa6)},
    };
    for (const auto& icon : icons) {
        if (!write(folder + "/" + icon.file, png(render(icon.glyph, icon.colour, 128)))) {
            qWarning("cannot write %s", icon.file);
            return 1;
        }
    }
    QColor brand(0xe6, 0x7e, 0x22);
    if (!write(folder + "/sonvela.icns", icns(appIcon, brand)) ||
        !writeThemeIcons(QString::fromLocal8Bit(argv[2]), appIcon, brand)) {
        qWarning("cannot write the application icon");
        return 1;
    }
    return 0;
}
