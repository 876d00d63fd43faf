#include "Tesvano/Settings/Components/SectionFooter.h"

#include "Tesvano/App/AppState.h"
#include "Tesvano/Settings/SettingsStyle.h"

namespace tesvano {

SectionFooter::SectionFooter(const AppState& state, std::string_view key, QWidget* parent)
    : QLabel(parent) {
    setObjectName(QStringLiteral("sectionFooter"));
    setTextFormat(Qt::MarkdownText);
    setText(state.text(key));
    setWordWrap(true);
    setOpenExternalLinks(true);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setFont(SettingsStyle::footnote(this));
    SettingsStyle::setTextLevel(this, SettingsStyle::Level::secondary);
}

}  // namespace tesvano
