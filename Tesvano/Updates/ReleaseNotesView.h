#pragma once

#include <QWidget>
#include <string>

#include "TesvanoKit/Updates/ReleaseNotes.h"

namespace tesvano {

// Release notes drawn from their Markdown: headings, bulleted items and paragraphs, links in
// the accent colour, text selectable.
class ReleaseNotesView final : public QWidget {
public:
    explicit ReleaseNotesView(const std::string& markdown, QWidget* parent = nullptr);

    // One block as rich text (escaped, with its styling and links).
    static QString html(const StyledText& text);
    // The heading font of a level: 1 and 2 larger, all semibold or bold.
    static QFont headingFont(int level, const QFont& base);
};

}  // namespace tesvano
