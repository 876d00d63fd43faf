#include <QThread>

#include "Tesvano/App/AppState.h"
#include "TesvanoKit/Rules/URLMatcher.h"
#include "TesvanoKit/Rules/URLRegexCache.h"

namespace tesvano {

bool AppState::isURLRuleSkipped(const Uuid& id) const {
    return std::ranges::find(skippedURLRules_, id) != skippedURLRules_.end();
}

void AppState::watchSkippedURLRules() {
    // The matcher finds a pattern out while the engine evaluates a URL; an edit of the
    // pattern gives it another chance.
    exhaustionObserver_ = URLRegexCache::shared().observeExhaustion([this] {
        if (QThread::currentThread() == thread()) {
            refreshSkippedURLRules();
        } else {
            QMetaObject::invokeMethod(
                this, [this] { refreshSkippedURLRules(); }, Qt::QueuedConnection);
        }
    });
    connect(this, &AppState::configChanged, this, [this] { refreshSkippedURLRules(); });
    refreshSkippedURLRules();
}

void AppState::refreshSkippedURLRules() {
    std::vector<Uuid> skipped;
    for (const auto& rule : config_.urlRules) {
        if (URLMatcher::isSkipped(rule)) {
            skipped.push_back(rule.id);
        }
    }
    if (skipped != skippedURLRules_) {
        skippedURLRules_ = std::move(skipped);
        emit skippedURLRulesChanged();
    }
}

}  // namespace tesvano
