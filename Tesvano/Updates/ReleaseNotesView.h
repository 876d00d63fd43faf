#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "TesvanoKit/Updates/ReleaseNotes.h"

class QVBoxLayout;

namespace tesvano {

// Release notes drawn from their Markdown: headings, bulleted items and paragraphs, links in
// the accent colour, text selectable. A click on a link opens nothing by itself: it is handed
// to `onLink`.
class ReleaseNotesView final : public QWidget {
public:
    using LinkHandler = std::function<void(const QString& url)>;
    explicit ReleaseNotesView(const std::string& markdown, LinkHandler onLink = {},
                              QWidget* parent = nullptr);

    // Notes longer than this are cut (at a line break where there is one near the end).
    static constexpr std::size_t maximumNotesBytes = 256 * 1024;
    // A link from the notes that may be offered for opening: https only, and nothing the
    // callbacks of URL commands would refuse either.
    static bool isOpenableLink(std::string_view url);

    // One block as rich text (escaped, with its styling and links).
    static QString html(const StyledText& text);
    // The heading font of a level: 1 and 2 larger, all semibold or bold.
    static QFont headingFont(int level, const QFont& base);

    // Long notes are drawn in portions of about this much text between events.
    static constexpr std::size_t batchCharacters = 16 * 1024;
    static constexpr int batchBlocks = 24;
    // A block longer than this is drawn as several labels, cut at spaces.
    static constexpr std::size_t pieceCharacters = 4 * 1024;
    static std::vector<StyledText> pieces(const StyledText& text);
    // Every block is drawn.
    bool complete() const;

private:
    void addBlocks();

    LinkHandler onLink_;
    std::vector<ReleaseNoteBlock> blocks_;
    std::size_t next_ = 0;
    std::vector<StyledText> pending_;  // pieces of blocks_[next_] still to draw, last first
    QVBoxLayout* column_ = nullptr;
    QVBoxLayout* pieceHost_ = nullptr;
};

}  // namespace tesvano
