#include "Tesvano/Updates/ReleaseNotesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cctype>

#include "Tesvano/Settings/SettingsStyle.h"
#include "TesvanoKit/Automation/CallbackURLPolicy.h"

namespace tesvano {

namespace {

QLabel* textLabel(const StyledText& text, const ReleaseNotesView::LinkHandler& onLink,
                  QWidget* parent) {
    auto* label = new QLabel(ReleaseNotesView::html(text), parent);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setOpenExternalLinks(false);
    if (onLink) {
        QObject::connect(label, &QLabel::linkActivated, label, onLink);
    }
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    return label;
}

std::string_view cutNotes(std::string_view markdown) {
    if (markdown.size() <= ReleaseNotesView::maximumNotesBytes) {
        return markdown;
    }
    std::string_view cut = markdown.substr(0, ReleaseNotesView::maximumNotesBytes);
    if (const auto line = cut.rfind('\n');
        line != std::string_view::npos && line > cut.size() / 2) {
        cut = cut.substr(0, line);
    }
    // Never half a UTF-8 sequence.
    while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) {
        cut.remove_suffix(1);
    }
    if (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0x80) != 0) {
        cut.remove_suffix(1);
    }
    return cut;
}

}  // namespace

bool ReleaseNotesView::isOpenableLink(std::string_view url) {
    const auto scheme = CallbackURLPolicy::scheme(url);
    if (!scheme || scheme->size() != 5) {
        return false;
    }
    std::string lowered = *scheme;
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered == "https" && url.size() <= CallbackURLPolicy::maximumURLBytes &&
           CallbackURLPolicy::isAllowed(url, CallbackURLPolicy::ownURLSchemes());
}

QString ReleaseNotesView::html(const StyledText& text) {
    QString out;
    for (const auto& run : text) {
        QString piece = QString::fromStdString(run.text).toHtmlEscaped();
        piece.replace(QStringLiteral("\n"), QStringLiteral("<br>"));
        if ((run.style & StyledRun::code) != 0) {
            piece = QStringLiteral("<code>") + piece + QStringLiteral("</code>");
        }
        if ((run.style & StyledRun::strong) != 0) {
            piece = QStringLiteral("<b>") + piece + QStringLiteral("</b>");
        }
        if ((run.style & StyledRun::emphasis) != 0) {
            piece = QStringLiteral("<i>") + piece + QStringLiteral("</i>");
        }
        if ((run.style & StyledRun::strikethrough) != 0) {
            piece = QStringLiteral("<s>") + piece + QStringLiteral("</s>");
        }
        if (run.link) {
            piece = QStringLiteral("<a href=\"") +
                    QString::fromStdString(*run.link).toHtmlEscaped() + QStringLiteral("\">") +
                    piece + QStringLiteral("</a>");
        }
        out += piece;
    }
    return out;
}

QFont ReleaseNotesView::headingFont(int level, const QFont& base) {
    QFont font = base;
    const double size = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    if (level == 1) {
        font.setPointSizeF(size * 1.31);
        font.setWeight(QFont::Bold);
    } else if (level == 2) {
        font.setPointSizeF(size * 1.15);
        font.setWeight(QFont::DemiBold);
    } else {
        font.setWeight(QFont::DemiBold);
    }
    return font;
}

ReleaseNotesView::ReleaseNotesView(const std::string& markdown, LinkHandler onLink, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("releaseNotes"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    for (const auto& block : ReleaseNotes::parse(cutNotes(markdown))) {
        switch (block.kind) {
            case ReleaseNoteBlock::Kind::heading: {
                auto* label = textLabel(block.text, onLink, this);
                label->setFont(headingFont(block.level, font()));
                label->setContentsMargins(0, 6, 0, 0);
                label->setProperty("headingLevel", block.level);
                column->addWidget(label);
                break;
            }
            case ReleaseNoteBlock::Kind::listItem: {
                auto* row = new QHBoxLayout;
                row->setSpacing(6);
                row->setAlignment(Qt::AlignTop);
                auto* bullet = new QLabel(QStringLiteral("\u2022"), this);
                SettingsStyle::setTextLevel(bullet, SettingsStyle::Level::secondary);
                row->addWidget(bullet, 0, Qt::AlignTop);
                auto* label = textLabel(block.text, onLink, this);
                label->setProperty("listItem", true);
                row->addWidget(label, 1);
                column->addLayout(row);
                break;
            }
            case ReleaseNoteBlock::Kind::paragraph:
                column->addWidget(textLabel(block.text, onLink, this));
                break;
        }
    }
}

}  // namespace tesvano
