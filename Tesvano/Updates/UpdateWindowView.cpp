#include "Tesvano/Updates/UpdateWindowView.h"

#include "TesvanoKit/Languages/TextKey.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

#include "Platform/Log/Log.h"
#include "Tesvano/App/AppDisplay.h"
#include "Tesvano/App/AppState.h"
#include "Tesvano/App/Symbols.h"
#include "Tesvano/Automation/CallbackURLOpener.h"
#include "Tesvano/Settings/Components/LinkButton.h"
#include "Tesvano/Settings/Components/OverlayScrollerSweep.h"
#include "Tesvano/Settings/SettingsStyle.h"
#include "Tesvano/Updates/ReleaseNotesView.h"

namespace tesvano {

namespace {

using Kind = UpdatePhase::Kind;

bool showsVersionDetails(Kind kind) {
    return kind == Kind::found || kind == Kind::downloading || kind == Kind::extracting ||
           kind == Kind::readyToInstall || kind == Kind::installing;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A capsule with white semibold text on a colour.
QLabel* chip(const QString& text, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = SettingsStyle::callout(label);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; border-radius: "
                                        "9px; padding: 2px 8px; }")
                             .arg(color.name()));
    return label;
}

// A headline with its symbol before it, centred.
QWidget* statusLabel(const QString& title, std::string_view symbol, const QColor& color,
                     QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* image = new QLabel(row);
    image->setPixmap(Symbols::pixmap(symbol, 18, color, row->devicePixelRatioF()));
    auto* label = new QLabel(title, row);
    label->setObjectName(QStringLiteral("statusTitle"));
    label->setFont(SettingsStyle::headline(label));
    layout->addStretch(1);
    layout->addWidget(image);
    layout->addWidget(label);
    layout->addStretch(1);
    return row;
}

}  // namespace

UpdateWindowView::UpdateWindowView(AppState& state, std::function<void()> closeWindow,
                                   QWidget* parent)
    : QWidget(parent),
      state_(state),
      model_(state.updateController().model()),
      closeWindow_(std::move(closeWindow)) {
    setObjectName(QStringLiteral("updateWindow"));
    setFixedSize(contentWidth, contentHeight);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    auto* icon = new QLabel(this);
    QPixmap image(52 * 2, 52 * 2);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        AppDisplay::drawRoundedIcon(painter, AppDisplay::ownAppIcon(), QRectF(0, 0, 104, 104), 104);
    }
    image.setDevicePixelRatio(2);
    icon->setPixmap(image);
    icon->setFixedSize(52, 52);
    header->addWidget(icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = new QLabel(state.text("Software Update"), this);
    QFont titleFont = SettingsStyle::title(title);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    titles->addWidget(title);
    subtitle_ = new QLabel(this);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    // Texts from the feed are shown as written, never as markup.
    subtitle_->setTextFormat(Qt::PlainText);
    SettingsStyle::setTextLevel(subtitle_, SettingsStyle::Level::secondary);
    titles->addWidget(subtitle_);
    currentVersion_ =
        new QLabel(state.text("Current version: ") +
                       QString::fromStdString(ProgramInfo::version()) + QStringLiteral(" (") +
                       QString::fromStdString(ProgramInfo::build()) + QStringLiteral(")"),
                   this);
    currentVersion_->setObjectName(QStringLiteral("currentVersion"));
    SettingsStyle::setTextLevel(currentVersion_, SettingsStyle::Level::tertiary);
    titles->addWidget(currentVersion_);
    header->addLayout(titles, 1);
    column->addLayout(header);
    column->addWidget(divider(this));
    bodyHost_ = new QVBoxLayout;
    bodyHost_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(bodyHost_, 1);
    column->addWidget(divider(this));
    footer_ = new QHBoxLayout;
    footer_->setContentsMargins(16, 16, 16, 16);
    footer_->setSpacing(12);
    column->addLayout(footer_);
    new OverlayScrollerSweep(this);

    refresh();
    observation_ = model_.observe([this] { refresh(); });
}

void UpdateWindowView::openNoteLink(const QString& url) {
    static const platform::Logger log("Updater");
    const std::string text = url.toStdString();
    if (!ReleaseNotesView::isOpenableLink(text)) {
        log.warning("A link in the release notes was not opened: only https links are");
        return;
    }
    const bool agreed = confirmLink ? confirmLink(url) : [&] {
        QMessageBox box(QMessageBox::Question, state_.text("Updates"),
                        state_.text("Open this link in your browser?"), QMessageBox::NoButton,
                        this);
        box.setInformativeText(url);
        box.setTextFormat(Qt::PlainText);
        auto* open = box.addButton(state_.text("Open Link"), QMessageBox::AcceptRole);
        box.addButton(state_.text("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(open);
        box.exec();
        return box.clickedButton() == open;
    }();
    if (!agreed) {
        return;
    }
    if (!linkOpener) {
        linkOpener = std::make_shared<DesktopCallbackURLOpener>();
    }
    linkOpener->open(text);
}

QString UpdateWindowView::subtitle(const AppState& state, const UpdateViewModel& model) {
    switch (model.phase().kind) {
        case Kind::idle:
            return QStringLiteral("Tesvano");
        case Kind::checking:
            return state.text("Checking…");
        case Kind::upToDate:
            return state.text("No updates available");
        case Kind::error:
            return state.text("Something went wrong");
        default:
            if (model.availableVersion().empty()) {
                return state.text("A new version is available");
            }
            return state.text("Version %@ is available")
                .replace(QStringLiteral("%@"), QString::fromStdString(model.availableVersion()));
    }
}

QString UpdateWindowView::byteCount(const QLocale& locale, std::uint64_t bytes) {
    return locale.formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

QString UpdateWindowView::remainingTime(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, std::round(seconds)));
    const long long parts[] = {total / 3600, (total % 3600) / 60, total % 60};
    const char* units[] = {"h", "m", "s"};
    QStringList shown;
    for (int i = 0; i < 3 && shown.size() < 2; ++i) {
        if (parts[i] != 0) {
            shown << QString::number(parts[i]) + QLatin1String(units[i]);
        } else if (!shown.isEmpty()) {
            break;  // the next unit is zero: hidden, and no smaller one follows it
        }
    }
    return shown.isEmpty() ? QStringLiteral("0s") : shown.join(QLatin1Char(' '));
}

QString UpdateWindowView::progressDetail(const AppState& state, std::uint64_t downloaded,
                                         std::uint64_t expected, double speed) {
    const QLocale locale(QString::fromStdString(state.effectiveLanguageCode()));
    const QString amounts =
        byteCount(locale, downloaded) + state.text(" of ") + byteCount(locale, expected);
    if (!(speed > 0)) {
        return amounts;
    }
    const std::uint64_t remaining = downloaded < expected ? expected - downloaded : 0;
    const QString rate = byteCount(locale, static_cast<std::uint64_t>(speed));
    return amounts + QStringLiteral(" \u2014 ") + rate + state.text("/s, ") +
           remainingTime(static_cast<double>(remaining) / speed) + state.text(" remaining");
}

QString UpdateWindowView::failureMessage(const AppState& state, UpdateFailure failure) {
    switch (failure) {
        case UpdateFailure::checkFailed:
            return state.text(
                "Couldn't check for updates. Please check your internet connection and try "
                "again later.");
        case UpdateFailure::downloadFailed:
            return state.text(
                "The update couldn't be downloaded. Please check your internet connection and "
                "try again.");
        case UpdateFailure::verificationFailed:
            return state.text("The update couldn't be verified. Please try again later.");
        case UpdateFailure::installationFailed:
            return state.text("The update couldn't be installed. Please try again later.");
        case UpdateFailure::unknown:
            break;
    }
    return state.text("An unexpected error occurred. Please try again later.");
}

void UpdateWindowView::refresh() {
    const UpdatePhase& phase = model_.phase();
    subtitle_->setText(subtitle(state_, model_));
    currentVersion_->setVisible(showsVersionDetails(phase.kind));

    const QString bodyKey =
        showsVersionDetails(phase.kind)
            ? QString(QStringLiteral("details|") +
                      QString::fromStdString(model_.availableVersion()) + QLatin1Char('|') +
                      QString::number(model_.publishedDate()
                                          ? model_.publishedDate()->time_since_epoch().count()
                                          : -1.0) +
                      QLatin1Char('|') + QString::number(model_.isBetaChannel()) +
                      QLatin1Char('|') + QString::fromStdString(model_.releaseNotesMarkdown()))
            : QString(QString::number(static_cast<int>(phase.kind)) + QLatin1Char('|') +
                      QString::number(static_cast<int>(phase.failure)));
    if (bodyKey != bodyKey_ || !body_) {
        bodyKey_ = bodyKey;
        rebuildBody();
    }
    const QString footerKey = QString::number(static_cast<int>(phase.kind)) + QLatin1Char('|') +
                              QString::number(static_cast<bool>(model_.skipAction)) +
                              QLatin1Char('|') + QString::number(model_.expectedBytes() != 0);
    if (footerKey != footerKey_) {
        footerKey_ = footerKey;
        rebuildFooter();
    }
    updateProgress();
}

QWidget* UpdateWindowView::centred(QWidget* inner) {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(32, 32, 32, 32);
    column->addStretch(1);
    column->addWidget(inner, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return box;
}

void UpdateWindowView::rebuildBody() {
    if (body_) {
        // Out of the window at once; deleted once the notification that got us here returns.
        body_->hide();
        body_->setParent(nullptr);
        body_->deleteLater();
    }
    const UpdatePhase& phase = model_.phase();
    QWidget* body = nullptr;
    if (showsVersionDetails(phase.kind)) {
        auto* scroll = new QScrollArea(this);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        auto* content = new QWidget(scroll);
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(16, 16, 16, 16);
        column->setSpacing(12);
        if (!model_.availableVersion().empty()) {
            auto* row = new QHBoxLayout;
            row->setSpacing(8);
            auto* version =
                new QLabel(state_.text("Version %@")
                               .replace(QStringLiteral("%@"),
                                        QString::fromStdString(model_.availableVersion())),
                           content);
            version->setObjectName(QStringLiteral("versionTitle"));
            version->setTextFormat(Qt::PlainText);
            QFont font = SettingsStyle::title(version);
            font.setWeight(QFont::DemiBold);
            version->setFont(font);
            row->addWidget(version);
            if (const auto& date = model_.publishedDate()) {
                const QDateTime when = QDateTime::fromMSecsSinceEpoch(
                    static_cast<qint64>(date->time_since_epoch().count() * 1000.0));
                const QLocale locale(QString::fromStdString(state_.effectiveLanguageCode()));
                auto* dateChip = chip(locale.toString(when.date(), QStringLiteral("d MMM yyyy")),
                                      content->palette().color(QPalette::Highlight), content);
                dateChip->setObjectName(QStringLiteral("dateChip"));
                row->addWidget(dateChip);
            }
            if (model_.isBetaChannel()) {
                auto* beta = chip(state_.text("Beta"), QColor(0xF0, 0x8A, 0x00), content);
                beta->setObjectName(QStringLiteral("betaChip"));
                row->addWidget(beta);
            }
            row->addStretch(1);
            column->addLayout(row);
        }
        const QString notes = QString::fromStdString(model_.releaseNotesMarkdown()).trimmed();
        if (!notes.isEmpty()) {
            column->addWidget(new ReleaseNotesView(
                notes.toStdString(), [this](const QString& url) { openNoteLink(url); }, content));
        } else {
            auto* none = new QLabel(state_.text("No release notes."), content);
            none->setObjectName(QStringLiteral("noReleaseNotes"));
            SettingsStyle::setTextLevel(none, SettingsStyle::Level::secondary);
            column->addWidget(none);
        }
        column->addStretch(1);
        scroll->setWidget(content);
        body = scroll;
    } else if (phase.kind == Kind::checking) {
        auto* inner = new QWidget(this);
        auto* column = new QVBoxLayout(inner);
        auto* busy = new QProgressBar(inner);
        busy->setRange(0, 0);
        busy->setTextVisible(false);
        busy->setFixedWidth(200);
        column->addWidget(busy, 0, Qt::AlignHCenter);
        column->addWidget(new QLabel(state_.text("Checking for updates…"), inner), 0,
                          Qt::AlignHCenter);
        body = centred(inner);
    } else if (phase.kind == Kind::upToDate) {
        body = centred(statusLabel(state_.text("You're up to date."), "checkmark.circle.fill",
                                   QColor(0x28, 0xA7, 0x45), this));
    } else if (phase.kind == Kind::error) {
        auto* inner = new QWidget(this);
        auto* column = new QVBoxLayout(inner);
        column->setSpacing(8);
        column->addWidget(statusLabel(state_.text("Update failed"), "exclamationmark.triangle",
                                      QColor(0xF0, 0x8A, 0x00), inner));
        auto* message = new QLabel(failureMessage(state_, phase.failure), inner);
        message->setObjectName(QStringLiteral("failureMessage"));
        message->setWordWrap(true);
        message->setAlignment(Qt::AlignHCenter);
        message->setFont(SettingsStyle::callout(message));
        SettingsStyle::setTextLevel(message, SettingsStyle::Level::secondary);
        message->setFixedWidth(420);
        column->addWidget(message);
        body = centred(inner);
    } else {
        auto* idle = new QLabel(state_.text("Check for updates from the menu or Settings."), this);
        SettingsStyle::setTextLevel(idle, SettingsStyle::Level::secondary);
        body = centred(idle);
    }
    body->setObjectName(QStringLiteral("phaseBody"));
    bodyHost_->addWidget(body);
    body_ = body;
}

void UpdateWindowView::rebuildFooter() {
    while (QLayoutItem* item = footer_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    progress_ = nullptr;
    progressDetail_ = nullptr;
    const Kind kind = model_.phase().kind;
    // A reply that also closes the window.
    auto closing = [this](std::function<void(UpdateViewModel&)> reply) {
        return [this, reply = std::move(reply)] {
            reply(model_);
            if (closeWindow_) {
                closeWindow_();
            }
        };
    };
    auto dismiss = [](UpdateViewModel& m) { m.dismiss(); };
    if (kind == Kind::found && model_.skipAction) {
        auto* skip = new LinkButton(state_.text("Skip This Version"), this);
        skip->setObjectName(QStringLiteral("skip"));
        connect(skip, &QPushButton::clicked, this, closing([](UpdateViewModel& m) { m.skip(); }));
        footer_->addWidget(skip);
    }
    if (kind == Kind::downloading || kind == Kind::extracting) {
        auto* area = new QWidget(this);
        auto* column = new QVBoxLayout(area);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        column->addWidget(new QLabel(
            state_.text(kind == Kind::downloading ? N_("Downloading…") : N_("Extracting…")), area));
        progress_ = new QProgressBar(area);
        progress_->setObjectName(QStringLiteral("progress"));
        progress_->setRange(0, 1000);
        progress_->setTextVisible(false);
        progress_->setFixedWidth(280);
        column->addWidget(progress_);
        if (kind == Kind::downloading && model_.expectedBytes() != 0) {
            progressDetail_ = new QLabel(area);
            progressDetail_->setObjectName(QStringLiteral("progressDetail"));
            // Digits of one width, so that the line does not jitter as it counts.
            QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            font.setPointSizeF(SettingsStyle::caption(progressDetail_).pointSizeF());
            progressDetail_->setFont(font);
            SettingsStyle::setTextLevel(progressDetail_, SettingsStyle::Level::secondary);
            column->addWidget(progressDetail_);
        }
        footer_->addWidget(area);
    } else if (kind == Kind::installing) {
        auto* spinner = new QProgressBar(this);
        spinner->setObjectName(QStringLiteral("installingSpinner"));
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedSize(80, 12);
        footer_->addWidget(spinner);
    }
    footer_->addStretch(1);
    auto button = [this](const char* key, const char* name, bool primary,
                         std::function<void()> action) {
        auto* b = new QPushButton(state_.text(key), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setDefault(primary);
        b->setAutoDefault(primary);
        connect(b, &QPushButton::clicked, this, std::move(action));
        footer_->addWidget(b);
    };
    switch (kind) {
        case Kind::found:
            button(N_("Later"), "later", false, closing(dismiss));
            button(N_("Install Update"), "install", true, [this] { model_.install(); });
            break;
        case Kind::readyToInstall:
            button(N_("Later"), "later", false, closing(dismiss));
            button(N_("Install and Relaunch"), "install", true, [this] { model_.install(); });
            break;
        case Kind::checking:
        case Kind::downloading:
        case Kind::extracting:
            button(N_("Cancel"), "cancel", false, closing(dismiss));
            break;
        case Kind::idle:
        case Kind::upToDate:
        case Kind::error:
            button(N_("Close"), "close", true, [this] {
                if (closeWindow_) {
                    closeWindow_();
                }
            });
            break;
        case Kind::installing:
            break;
    }
}

void UpdateWindowView::updateProgress() {
    if (progress_) {
        progress_->setValue(
            static_cast<int>(std::lround(std::clamp(model_.phase().fraction, 0.0, 1.0) * 1000.0)));
    }
    if (progressDetail_) {
        progressDetail_->setText(progressDetail(state_, model_.downloadedBytes(),
                                                model_.expectedBytes(), model_.downloadSpeed()));
    }
}

}  // namespace tesvano
