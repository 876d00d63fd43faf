#include "Tesvano/App/Resources.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerTesvanoResources() {
    Q_INIT_RESOURCE(tesvano);
}

namespace tesvano {

void initResources() {
    static const bool done = [] {
        registerTesvanoResources();
        return true;
    }();
    (void)done;
}

}  // namespace tesvano
