#include "Tesvano/Windows/AboutView.h"

#include <algorithm>

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Settings/Components/LinkButton.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

namespace {

constexpr int iconSide = 128;

QLabel* label(const QString& text, const QFont& font, SettingsStyle::Level level, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setAlignment(Qt::AlignHCenter);
    if (level != SettingsStyle::Level::primary) {
        SettingsStyle::setTextLevel(l, level);
    }
    return l;
}

// Each "%@" in turn takes the next value; a value that itself holds "%@" stays as it is.
QString fillPlaceholders(const QString& pattern, std::initializer_list<QString> values) {
    QString out;
    qsizetype from = 0;
    for (const QString& value : values) {
        const qsizetype at = pattern.indexOf(QStringLiteral("%@"), from);
        if (at < 0) {
            break;
        }
        out += pattern.mid(from, at - from) + value;
        from = at + 2;
    }
    return out + pattern.mid(from);
}

void defaultOpenURL(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

}  // namespace

// --- Acknowledgements

const std::vector<AcknowledgementsView::Library>& AcknowledgementsView::libraries() {
    const auto entry = [](const char* name, const char* license, const char* url,
                          std::initializer_list<const char*> files) {
        Library library{
            QString::fromUtf8(name), QString::fromUtf8(license), QUrl(QString::fromUtf8(url)), {}};
        for (const char* file : files) {
            library.files << QString::fromUtf8(file);
        }
        return library;
    };
    static const std::vector<Library> list{
        entry("Qt", "LGPL-3.0", "https://www.qt.io", {"libQt6"}),
        entry("ICU", "Unicode License", "https://github.com/unicode-org/icu", {"libicu"}),
        entry("SQLite", "Public Domain", "https://sqlite.org", {"libsqlite3."}),
        entry("JSON for Modern C++", "MIT License", "https://github.com/nlohmann/json", {}),
        entry("uriparser", "BSD 3-Clause License", "https://github.com/uriparser/uriparser",
              {"liburiparser."}),
        entry("libxkbcommon", "MIT License", "https://github.com/xkbcommon/libxkbcommon",
              {"libxkbcommon.", "libxkbcommon-x11.", "libxkbregistry."}),
        entry("Xlib", "MIT License", "https://gitlab.freedesktop.org/xorg/lib/libx11",
              {"libX11.", "libX11-xcb."}),
        entry("libXRes", "MIT License", "https://gitlab.freedesktop.org/xorg/lib/libxres",
              {"libXRes."}),
        entry("AT-SPI (libatspi)", "LGPL-2.1-or-later",
              "https://gitlab.gnome.org/GNOME/at-spi2-core", {"libatspi."}),
        entry("GLib", "LGPL-2.1-or-later", "https://gitlab.gnome.org/GNOME/glib",
              {"libglib-2.0.", "libgobject-2.0.", "libgio-2.0."}),
        entry("IBus", "LGPL-2.1-or-later", "https://github.com/ibus/ibus", {"libibus-1.0."}),
        entry("D-Bus (libdbus)", "AFL-2.1 or GPL-2.0-or-later",
              "https://gitlab.freedesktop.org/dbus/dbus", {"libdbus-1."}),
        entry("libsystemd", "LGPL-2.1-or-later", "https://github.com/systemd/systemd",
              {"libsystemd."}),
        entry("libsodium", "ISC License", "https://libsodium.org", {"libsodium."}),
        entry("MD4C", "MIT License", "https://github.com/mity/md4c", {"libmd4c."}),
        entry("Expat", "MIT License", "https://libexpat.github.io", {"libexpat."}),
        entry("zlib", "zlib License", "https://zlib.net", {"libz."}),
        entry("GNU C Library", "LGPL-2.1-or-later", "https://www.gnu.org/software/libc",
              {"libc.", "libm.", "ld-linux"}),
        entry("GCC runtime libraries (libstdc++, libgcc)",
              "GPL-3.0 with the GCC Runtime Library Exception", "https://gcc.gnu.org",
              {"libstdc++.", "libgcc_s."}),
    };
    return list;
}

AcknowledgementsView::AcknowledgementsView(const AppState& state,
                                           std::function<void(const QUrl&)> openURL,
                                           QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("acknowledgements"));
    setWindowTitle(state.text("Acknowledgements"));
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    auto* title = new QLabel(state.text("Acknowledgements"), this);
    title->setFont(SettingsStyle::headline(this));
    header->addWidget(title, 1);
    auto* done = new QPushButton(state.text("Close"), this);
    done->setObjectName(QStringLiteral("close"));
    done->setDefault(true);  // Return closes the dialog
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    column->addLayout(header);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);

    auto* scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    auto* list = new QWidget(scroller);
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(8, 6, 8, 6);
    rows->setSpacing(2);
    int widest = 0;
    for (const Library& library : libraries()) {
        auto* row = new QPushButton(list);
        row->setObjectName(QStringLiteral("library"));
        row->setFlat(true);
        row->setAutoDefault(false);
        row->setCursor(Qt::PointingHandCursor);
        row->setAccessibleName(library.name);
        // Name and licence on one line, so that every row shows without scrolling.
        auto* inside = new QHBoxLayout(row);
        inside->setContentsMargins(8, 4, 8, 4);
        inside->setSpacing(12);
        auto* name = new QLabel(library.name, row);
        name->setTextFormat(Qt::PlainText);
        name->setAttribute(Qt::WA_TransparentForMouseEvents);
        inside->addWidget(name);
        inside->addStretch(1);
        auto* license = new QLabel(library.license, row);
        license->setTextFormat(Qt::PlainText);
        license->setFont(SettingsStyle::caption2(row));
        license->setAttribute(Qt::WA_TransparentForMouseEvents);
        SettingsStyle::setTextLevel(license, SettingsStyle::Level::secondary);
        inside->addWidget(license, 0, Qt::AlignVCenter);
        auto* arrow = new QLabel(row);
        arrow->setAttribute(Qt::WA_TransparentForMouseEvents);
        arrow->setPixmap(Symbols::pixmap("arrow.up.right", 12,
                                         SettingsStyle::color(row, SettingsStyle::Level::tertiary),
                                         row->devicePixelRatioF()));
        inside->addWidget(arrow, 0, Qt::AlignVCenter);
        row->setMinimumSize(inside->sizeHint());
        widest = std::max(widest, inside->sizeHint().width());
        const QUrl url = library.url;
        connect(row, &QPushButton::clicked, this, [openURL, url] {
            if (openURL) {
                openURL(url);
            }
        });
        rows->addWidget(row);
    }
    rows->addStretch(1);
    scroller->setWidget(list);
    column->addWidget(scroller, 1);
    new OverlayScrollerSweep(this);
    // Tall enough for every row: overlay bars show only while scrolling, so a cut-off row
    // would look like the end of the list.
    const int needed =
        header->sizeHint().height() + divider->sizeHint().height() + list->sizeHint().height();
    const int wide = widest + rows->contentsMargins().left() + rows->contentsMargins().right();
    setFixedSize(std::max(360, wide), std::clamp(needed, 320, 600));
}

// --- About

QUrl AboutView::repositoryURL() {
    static const QUrl url(QStringLiteral("https://github.com/quorvel/tesvano"));
    return url;
}

AboutView::AboutView(AppState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("about"));
    openURL = defaultOpenURL;
    setFixedWidth(340);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 28, 0, 16);
    column->setSpacing(0);

    icon_ = new QLabel(this);
    icon_->setFixedSize(iconSide, iconSide);
    column->addWidget(icon_, 0, Qt::AlignHCenter);
    column->addSpacing(14);

    column->addWidget(label(QStringLiteral("Tesvano"), SettingsStyle::title(this),
                            SettingsStyle::Level::primary, this));
    column->addSpacing(2);

    const QString versionLine = fillPlaceholders(state.text("Version %@"),
                                                 {QString::fromStdString(ProgramInfo::version())});
    auto* versionLabel =
        label(versionLine, SettingsStyle::callout(this), SettingsStyle::Level::secondary, this);
    versionLabel->setObjectName(QStringLiteral("version"));
    versionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(versionLabel);
    column->addSpacing(12);

    auto* description = label(state.text("Keep your keyboard input source locked."), QFont(),
                              SettingsStyle::Level::secondary, this);
    description->setFont(SettingsStyle::footnote(this));
    description->setWordWrap(true);
    description->setContentsMargins(28, 0, 28, 0);
    column->addWidget(description);
    column->addSpacing(14);

    auto* links = new QHBoxLayout;
    links->setSpacing(16);
    links->addStretch(1);
    auto* github = new LinkButton(QStringLiteral("GitHub"), this);
    github->setObjectName(QStringLiteral("github"));
    connect(github, &QPushButton::clicked, this, [this] {
        if (openURL) {
            openURL(repositoryURL());
        }
    });
    links->addWidget(github);
    auto* thanks = new LinkButton(state.text("Acknowledgements"), this);
    thanks->setObjectName(QStringLiteral("acknowledgementsButton"));
    connect(thanks, &QPushButton::clicked, this, [this] { showAcknowledgements(); });
    links->addWidget(thanks);
    links->addStretch(1);
    column->addLayout(links);
    column->addSpacing(16);

    auto* copyright = label(QString::fromStdString(ProgramInfo::copyright()),
                            SettingsStyle::caption(this), SettingsStyle::Level::tertiary, this);
    copyright->setWordWrap(true);
    copyright->setContentsMargins(24, 0, 24, 0);
    column->addWidget(copyright);

    new OverlayScrollerSweep(this);
    refreshIcon();
    connect(&state_, &AppState::configChanged, this, [this] { refreshIcon(); });
}

void AboutView::refreshIcon() {
    showsUnlocked_ = !state_.config().isEnabled;
    const QIcon image = showsUnlocked_ ? QIcon(QStringLiteral(":/icons/AppIconUnlocked.svg"))
                                       : AppDisplay::ownAppIcon();
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(QSize(iconSide, iconSide) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        AppDisplay::drawRoundedIcon(painter, image, QRectF(0, 0, iconSide, iconSide), iconSide);
    }
    icon_->setPixmap(pixmap);
}

void AboutView::showAcknowledgements() {
    if (acknowledgements_ == nullptr) {
        acknowledgements_ = new AcknowledgementsView(state_, openURL, this);
        // Made afresh each time it opens.
        connect(acknowledgements_, &QDialog::finished, this, [this] {
            acknowledgements_->deleteLater();
            acknowledgements_ = nullptr;
        });
    }
    acknowledgements_->open();
}

}  // namespace tesvano
