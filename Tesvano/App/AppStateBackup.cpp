#include "Tesvano/App/AppState.h"

namespace tesvano {

ConfigBackup AppState::makeBackupDocument() const {
    std::map<InputSourceID, std::string> names;
    for (const InputSource& source : availableSources_) {
        // A later entry of the same id wins.
        names.insert_or_assign(source.id, source.localizedName);
    }
    return ConfigBackup::fromConfiguration(config_, ProgramInfo::version(), names);
}

}  // namespace tesvano
