#include "PermissionFlow/Panels/AppDragSourceView.h"

#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "PermissionFlow/AppDragData.h"
#include "PermissionFlow/PermissionFlowResources.h"
#include "Platform/Workspace/DesktopEntryIndex.h"

namespace PermissionFlow {

std::pair<QIcon, QString> applicationLook(const std::filesystem::path& entry,
                                          const std::optional<std::string>& localeIdentifier) {
    QString name = QString::fromStdString(entry.stem().string());
    QIcon icon;
    QFile file(QString::fromStdString(entry.string()));
    if (file.open(QIODevice::ReadOnly)) {
        const auto text = file.readAll().toStdString();
        if (auto parsed =
                tesvano::platform::DesktopEntryIndex::parse(entry.stem().string(), text)) {
            name = QString::fromStdString(parsed->name);
            for (const auto& candidate :
                 PermissionFlowResources::localeCandidates(localeIdentifier.value_or(""))) {
                std::string key = candidate;
                std::ranges::replace(key, '-', '_');
                if (auto it = parsed->localizedNames.find(key);
                    it != parsed->localizedNames.end()) {
                    name = QString::fromStdString(it->second);
                    break;
                }
            }
            if (parsed->icon) {
                const auto iconName = QString::fromStdString(*parsed->icon);
                icon = iconName.startsWith(QLatin1Char('/')) ? QIcon(iconName)
                                                             : QIcon::fromTheme(iconName);
            }
        }
    }
    if (icon.isNull()) {
        icon = QApplication::windowIcon();
    }
    return {icon, name};
}

AppDragSourceView::AppDragSourceView(std::filesystem::path entry,
                                     std::optional<std::string> localeIdentifier,
                                     SymbolProvider symbols, QWidget* parent)
    : QWidget(parent),
      entry_(std::move(entry)),
      localeIdentifier_(std::move(localeIdentifier)),
      symbols_(std::move(symbols)) {
    setObjectName(QStringLiteral("appDragSource"));
    setCursor(Qt::OpenHandCursor);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 6, 12, 6);
    row->setSpacing(8);
    iconLabel_ = new QLabel(this);
    iconLabel_->setFixedSize(32, 32);
    nameLabel_ = new QLabel(this);
    // A desktop entry's name is the application's words, never markup.
    nameLabel_->setTextFormat(Qt::PlainText);
    QFont font = nameLabel_->font();
    font.setPointSizeF(font.pointSizeF() * 1.2);
    nameLabel_->setFont(font);
    row->addWidget(iconLabel_);
    row->addWidget(nameLabel_, 1);
    auto* hint = new QVBoxLayout;
    hint->setSpacing(0);
    hintIcon_ = new QLabel(this);
    hintIcon_->setAlignment(Qt::AlignHCenter);
    hintText_ = new QLabel(this);
    hintText_->setAlignment(Qt::AlignHCenter);
    QFont small = hintText_->font();
    small.setPointSizeF(small.pointSizeF() * 0.75);
    hintText_->setFont(small);
    hintText_->setForegroundRole(QPalette::PlaceholderText);
    hint->addWidget(hintIcon_);
    hint->addWidget(hintText_);
    row->addLayout(hint);
    // One handle: the content never takes the mouse.
    for (QWidget* child : {static_cast<QWidget*>(iconLabel_), static_cast<QWidget*>(nameLabel_),
                           static_cast<QWidget*>(hintIcon_), static_cast<QWidget*>(hintText_)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    runDrag = [this](QMimeData* mime, const QPixmap& pixmap) {
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        drag->setPixmap(pixmap);
        drag->setHotSpot(QPoint(pixmap.width() / 2, pixmap.height() / 2));
        drag->exec(Qt::CopyAction, Qt::CopyAction);
    };
    rebuild();
}

void AppDragSourceView::update(std::filesystem::path entry,
                               std::optional<std::string> localeIdentifier) {
    entry_ = std::move(entry);
    localeIdentifier_ = std::move(localeIdentifier);
    rebuild();
    updateGeometry();
}

void AppDragSourceView::rebuild() {
    std::tie(icon_, name_) = applicationLook(entry_, localeIdentifier_);
    iconLabel_->setPixmap(icon_.pixmap(32, 32));
    nameLabel_->setText(name_);
    if (symbols_) {
        hintIcon_->setPixmap(symbols_("hand.draw").pixmap(14, 14));
    }
    hintText_->setText(QString::fromStdString(PermissionFlowResources::localizedString(
        "permission_flow.drag.label", "Drag", localeIdentifier_)));
}

QWidget* AppDragSourceView::hitTest(const QPoint& pointInParent) {
    // Our geometry is in the parent's coordinates too; rect() would be our own.
    return geometry().contains(pointInParent) ? this : nullptr;
}

QMimeData* AppDragSourceView::makeMimeData() const {
    auto* mime = new QMimeData;
    for (const auto& item : dragItems(entry_, name_.toStdString())) {
        mime->setData(QString::fromStdString(item.mimeType),
                      QByteArray(item.data.data(), qsizetype(item.data.size())));
    }
    return mime;
}

QSize AppDragSourceView::sizeHint() const {
    QSize hint = QWidget::sizeHint();
    return {hint.width(), std::max(hint.height(), 56)};
}

void AppDragSourceView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mouseDownPoint_ = event->position().toPoint();
        hasBegunDragging_ = false;
    }
}

void AppDragSourceView::mouseMoveEvent(QMouseEvent* event) {
    if (hasBegunDragging_ || !mouseDownPoint_) {
        return;
    }
    const QPointF at = event->position();
    if (dragThresholdPassed(mouseDownPoint_->x(), mouseDownPoint_->y(), at.x(), at.y())) {
        hasBegunDragging_ = true;
        beginDrag();
    }
}

void AppDragSourceView::mouseReleaseEvent(QMouseEvent*) {
    mouseDownPoint_.reset();
    hasBegunDragging_ = false;
}

void AppDragSourceView::beginDrag() {
    if (onDragStateChange) {
        onDragStateChange(true);
    }
    runDrag(makeMimeData(), icon_.pixmap(56, 56));
    // Dropped, refused or cancelled alike.
    mouseDownPoint_.reset();
    hasBegunDragging_ = false;
    if (onDragStateChange) {
        onDragStateChange(false);
    }
}

void AppDragSourceView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    QColor fill = palette().color(QPalette::Base);
    fill.setAlphaF(0.65f);
    painter.fillPath(path, fill);
    QColor stroke = palette().color(QPalette::WindowText);
    stroke.setAlphaF(0.12f);
    painter.setPen(QPen(stroke, 1));
    painter.drawPath(path);
}

}  // namespace PermissionFlow
