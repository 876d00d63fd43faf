#include "Tesvano/Settings/Components/AppRowLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

AppRowLabel::AppRowLabel(const AppState& state, std::string appId, std::optional<QString> name,
                         std::optional<QIcon> icon, int iconSize, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    auto* image = new QLabel(this);
    image->setFixedSize(iconSize, iconSize);
    image->setAlignment(Qt::AlignCenter);
    QIcon shown = icon ? *icon : state.display().icon(appId);
    if (!shown.isNull()) {
        QPixmap pixmap = shown.pixmap(QSize(iconSize, iconSize), devicePixelRatioF());
        // Stretched to the frame, as a resizable image is.
        image->setPixmap(pixmap.scaled(QSize(iconSize, iconSize) * devicePixelRatioF(),
                                       Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    } else {
        placeholder_ = true;
        image->setPixmap(placeholder(this, iconSize));
    }
    row->addWidget(image, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    const QString titleText =
        name
            ? *name
            : QString::fromStdString(state.display().displayName(appId, state.effectiveLanguage()));
    title_ = new QLabel(titleText, this);
    title_->setTextFormat(Qt::PlainText);
    column->addWidget(title_);
    auto* identity = new QLabel(QString::fromStdString(appId), this);
    identity->setTextFormat(Qt::PlainText);
    identity->setFont(SettingsStyle::caption2(this));
    SettingsStyle::setTextLevel(identity, SettingsStyle::Level::secondary);
    column->addWidget(identity);
    row->addLayout(column, 1);
}

QString AppRowLabel::title() const {
    return title_->text();
}

QPixmap AppRowLabel::placeholder(const QWidget* widget, int size) {
    const qreal ratio = widget != nullptr ? widget->devicePixelRatioF() : 1.0;
    QPixmap out(QSize(size, size) * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, size, size), 6, 6);
    painter.fillPath(square, SettingsStyle::color(widget, SettingsStyle::Level::quaternary));
    const int symbolSize = std::max(8, size * 5 / 8);
    const QPixmap symbol =
        Symbols::pixmap("app.dashed", symbolSize,
                        SettingsStyle::color(widget, SettingsStyle::Level::secondary), ratio);
    const int offset = (size - symbolSize) / 2;
    painter.drawPixmap(QPoint(offset, offset), symbol);
    return out;
}

}  // namespace tesvano
