#include "Tesvano/App/Symbols.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPalette>
#include <map>
#include <string>

namespace tesvano::Symbols {

namespace {

QString resourcePath(std::string_view name) {
    return QStringLiteral(":/symbols/") + QString::fromUtf8(name.data(), qsizetype(name.size())) +
           QStringLiteral(".svg");
}

std::map<std::string, QIcon, std::less<>>& madeIcons() {
    static std::map<std::string, QIcon, std::less<>> made;
    return made;
}

QColor textColor() {
    return QApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

}  // namespace

bool exists(std::string_view name) {
    return !name.empty() && QFile::exists(resourcePath(name));
}

QPixmap pixmap(std::string_view name, int size, const QColor& color, qreal devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap out(pixels, pixels);
    out.fill(Qt::transparent);
    if (exists(name)) {
        const QPixmap shape = QIcon(resourcePath(name)).pixmap(pixels, pixels);
        QPainter painter(&out);
        painter.drawPixmap(QRect(0, 0, pixels, pixels), shape);
        // Keep the shape's coverage, take the colour: what a template image does.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(out.rect(), color);
    }
    out.setDevicePixelRatio(devicePixelRatio);
    return out;
}

void releaseIcons() {
    madeIcons().clear();
}

QIcon icon(std::string_view name) {
    auto& made = madeIcons();
    if (auto it = made.find(name); it != made.end()) {
        return it->second;
    }
    if (!exists(name)) {
        return blank();
    }
    QIcon result;
    const QColor color = textColor();
    for (int size : {16, 22, 24, 32, 48, 64}) {
        result.addPixmap(pixmap(name, size, color));
    }
    made.emplace(std::string(name), result);
    return result;
}

QIcon blank() {
    static const QIcon empty = [] {
        QPixmap none(16, 16);
        none.fill(Qt::transparent);
        return QIcon(none);
    }();
    return empty;
}

}  // namespace tesvano::Symbols
