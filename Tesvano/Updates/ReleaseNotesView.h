#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "TesvanoKit/Updates/ReleaseNotes.h"

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
};

}  // namespace tesvano
