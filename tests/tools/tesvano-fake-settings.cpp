// Stands for a desktop's settings program (or any other application) in the tests of the
// permission guide: a plain window of a settings program's shape with a sidebar. Copied under
// the name of the program it stands for, it is found as that program. Run as
//   tesvano-fake-settings [PANEL] [--title TITLE]
// It ends when its window is closed.
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QString panel;
    QString title = QStringLiteral("Settings");
    const QStringList args = QApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--title") && i + 1 < args.size()) {
            title = args[++i];
        } else {
            panel = args[i];
        }
    }
    QWidget window;
    window.setWindowTitle(title);
    auto* row = new QHBoxLayout(&window);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* sidebar = new QListWidget(&window);
    sidebar->setFixedWidth(230);
    const QStringList pages = {QStringLiteral("Network"),
                               QStringLiteral("Bluetooth"),
                               QStringLiteral("Background"),
                               QStringLiteral("Appearance"),
                               QStringLiteral("Notifications"),
                               QStringLiteral("Search"),
                               QStringLiteral("Applications"),
                               QStringLiteral("Privacy"),
                               QStringLiteral("Sharing"),
                               QStringLiteral("Sound"),
                               QStringLiteral("Power"),
                               QStringLiteral("Displays"),
                               QStringLiteral("Mouse & Touchpad"),
                               QStringLiteral("Keyboard"),
                               QStringLiteral("Accessibility"),
                               QStringLiteral("Users"),
                               QStringLiteral("About")};
    sidebar->addItems(pages);
    const bool accessibility = panel == QStringLiteral("universal-access");
    if (accessibility) {
        sidebar->setCurrentRow(int(pages.indexOf(QStringLiteral("Accessibility"))));
    }
    row->addWidget(sidebar);
    auto* content = new QWidget(&window);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 18, 24, 18);
    auto* heading = new QLabel(
        accessibility ? QStringLiteral("Accessibility") : (panel.isEmpty() ? title : panel),
        content);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    heading->setFont(font);
    column->addWidget(heading);
    if (accessibility) {
        for (const char* option :
             {"Always Show Accessibility Menu", "Screen Reader", "High Contrast", "Large Text",
              "Screen Keyboard", "Sticky Keys", "Click Assist"}) {
            column->addWidget(new QCheckBox(QString::fromUtf8(option), content));
        }
    }
    column->addStretch(1);
    row->addWidget(content, 1);
    // Where a settings program usually opens: near the top, with room below it.
    const bool settings = title == QStringLiteral("Settings");
    window.resize(settings ? QSize(820, 460) : QSize(520, 360));
    window.move(settings ? QPoint(160, 60) : QPoint(40, 300));
    window.show();
    return QApplication::exec();
}
