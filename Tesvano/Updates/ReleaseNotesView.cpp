#include "Tesvano/Updates/ReleaseNotesView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
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
    : QWidget(parent),
      onLink_(std::move(onLink)),
      blocks_(ReleaseNotes::parse(cutNotes(markdown))) {
    setObjectName(QStringLiteral("releaseNotes"));
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(8);
    addBlocks();
}

std::vector<StyledText> ReleaseNotesView::pieces(const StyledText& text) {
    std::vector<StyledText> out(1);
    std::size_t length = 0;
    for (const auto& run : text) {
        std::string_view rest = run.text;
        while (length + rest.size() > pieceCharacters) {
            // Cut at the last space that keeps the piece within its size, else after it.
            const std::size_t room = pieceCharacters > length ? pieceCharacters - length : 0;
            std::size_t cut = rest.substr(0, room).rfind(' ');
            if (cut == std::string_view::npos) {
                cut = rest.find(' ', room);
                if (cut == std::string_view::npos) {
                    break;
                }
            }
            out.back().push_back({std::string(rest.substr(0, cut)), run.style, run.link});
            out.emplace_back();
            rest.remove_prefix(cut + 1);
            length = 0;
        }
        if (!rest.empty()) {
            out.back().push_back({std::string(rest), run.style, run.link});
            length += rest.size();
        }
    }
    std::erase_if(out, [](const StyledText& piece) { return piece.empty(); });
    return out;
}

void ReleaseNotesView::addBlocks() {
    // What fills the window comes at once; the rest in small portions between events, so that
    // long notes never hold the interface up. A long block is drawn in pieces of its own
    // (text layout grows faster than the text), stacked without a gap.
    std::size_t characters = 0;
    int labels = 0;
    while (next_ < blocks_.size() &&
           (labels == 0 || (characters < batchCharacters && labels < batchBlocks))) {
        const ReleaseNoteBlock& block = blocks_[next_];
        if (pending_.empty()) {
            pending_ = pieces(block.text);
            std::reverse(pending_.begin(), pending_.end());
            pieceHost_ = nullptr;
            if (pending_.size() > 1) {
                auto* host = new QWidget(this);
                pieceHost_ = new QVBoxLayout(host);
                pieceHost_->setContentsMargins(0, 0, 0, 0);
                pieceHost_->setSpacing(0);
                column_->addWidget(host);
            }
        }
        const bool first = pieceHost_ == nullptr || pieceHost_->count() == 0;
        const StyledText piece = std::move(pending_.back());
        pending_.pop_back();
        if (pending_.empty()) {
            ++next_;
        }
        for (const auto& run : piece) {
            characters += run.text.size();
        }
        ++labels;
        QBoxLayout* host = pieceHost_ ? pieceHost_ : column_;
        switch (block.kind) {
            case ReleaseNoteBlock::Kind::heading: {
                auto* label = textLabel(piece, onLink_, this);
                label->setFont(headingFont(block.level, font()));
                label->setContentsMargins(0, first ? 6 : 0, 0, 0);
                label->setProperty("headingLevel", block.level);
                host->addWidget(label);
                break;
            }
            case ReleaseNoteBlock::Kind::listItem: {
                auto* row = new QHBoxLayout;
                row->setSpacing(6);
                row->setAlignment(Qt::AlignTop);
                auto* bullet = new QLabel(first ? QStringLiteral("\u2022") : QString(), this);
                SettingsStyle::setTextLevel(bullet, SettingsStyle::Level::secondary);
                bullet->setFixedWidth(
                    bullet->fontMetrics().horizontalAdvance(QStringLiteral("\u2022")));
                row->addWidget(bullet, 0, Qt::AlignTop);
                auto* label = textLabel(piece, onLink_, this);
                label->setProperty("listItem", true);
                row->addWidget(label, 1);
                host->addLayout(row);
                break;
            }
            case ReleaseNoteBlock::Kind::paragraph:
                host->addWidget(textLabel(piece, onLink_, this));
                break;
        }
    }
    if (next_ < blocks_.size()) {
        QTimer::singleShot(0, this, [this] { addBlocks(); });
    } else {
        blocks_.clear();
        blocks_.shrink_to_fit();
        next_ = 0;
    }
}

bool ReleaseNotesView::complete() const {
    return next_ >= blocks_.size();
}

}  // namespace tesvano
