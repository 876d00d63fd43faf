#include "Tesvano/Updates/ReleaseNotesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

namespace {

QLabel* textLabel(const StyledText& text, QWidget* parent) {
    auto* label = new QLabel(ReleaseNotesView::html(text), parent);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    return label;
}

}  // namespace

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

ReleaseNotesView::ReleaseNotesView(const std::string& markdown, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("releaseNotes"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    for (const auto& block : ReleaseNotes::parse(markdown)) {
        switch (block.kind) {
            case ReleaseNoteBlock::Kind::heading: {
                auto* label = textLabel(block.text, this);
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
                auto* label = textLabel(block.text, this);
                label->setProperty("listItem", true);
                row->addWidget(label, 1);
                column->addLayout(row);
                break;
            }
            case ReleaseNoteBlock::Kind::paragraph:
                column->addWidget(textLabel(block.text, this));
                break;
        }
    }
}

}  // namespace tesvano
