#pragma once

#include <QIcon>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QLabel;
class QMimeData;

namespace PermissionFlow {

using SymbolProvider = std::function<QIcon(std::string_view name)>;

// The card of the application that the user drags out of the panel: its icon and name and a
// "Drag" hint. The whole card is one drag handle; it offers the desktop entry in every form
// of dragData. Tells of a drag's start and end.
class AppDragSourceView final : public QWidget {
    Q_OBJECT

public:
    AppDragSourceView(std::filesystem::path entry, std::optional<std::string> localeIdentifier,
                      SymbolProvider symbols, QWidget* parent = nullptr);

    // Replaces the card's content in place.
    void update(std::filesystem::path entry, std::optional<std::string> localeIdentifier);
    std::function<void(bool dragging)> onDragStateChange;

    // `point` is in the parent's coordinates, as the parent's own hit testing has it.
    QWidget* hitTest(const QPoint& pointInParent);
    QMimeData* makeMimeData() const;
    QString applicationName() const { return name_; }
    // Runs the drag (a test replaces it: a real one blocks in the window system's loop).
    std::function<void(QMimeData* mime, const QPixmap& icon)> runDrag;

    QSize sizeHint() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    void beginDrag();

    std::filesystem::path entry_;
    std::optional<std::string> localeIdentifier_;
    SymbolProvider symbols_;
    QString name_;
    QIcon icon_;
    QLabel* iconLabel_ = nullptr;
    QLabel* nameLabel_ = nullptr;
    QLabel* hintIcon_ = nullptr;
    QLabel* hintText_ = nullptr;
    std::optional<QPoint> mouseDownPoint_;
    bool hasBegunDragging_ = false;
};

// The icon and display name of a desktop entry (its Name= in the locale; the file name when
// it cannot be read).
std::pair<QIcon, QString> applicationLook(const std::filesystem::path& entry,
                                          const std::optional<std::string>& localeIdentifier);

}  // namespace PermissionFlow
