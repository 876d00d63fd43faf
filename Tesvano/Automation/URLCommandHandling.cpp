#include "Tesvano/Automation/URLCommandHandling.h"

#include "Platform/Log/Log.h"

namespace tesvano {

void URLCommandStandIn::handle(const std::string& url) {
    static const platform::Logger log("URLAPI");
    log.info("URL command received: %{public}s", url);
}

}  // namespace tesvano
