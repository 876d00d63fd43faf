// The state's update settings: the channel the updater reads.
#include "Platform/Defaults/Defaults.h"
#include "Tesvano/App/AppState.h"

namespace tesvano {

bool AppState::usesBetaChannel() const {
    return services_.defaults.boolean(usesBetaChannelKey).value_or(false);
}

void AppState::setUsesBetaChannel(bool beta) {
    services_.defaults.set(usesBetaChannelKey, beta);
    // The updater reads the channel at its next check; what the old channel offered goes.
    updateController_->resetUpdateCycle();
    emit updateStateChanged();
}

}  // namespace tesvano
