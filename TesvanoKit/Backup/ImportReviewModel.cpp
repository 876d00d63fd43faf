#include "TesvanoKit/Backup/ImportReviewModel.h"

#include <algorithm>
#include <unordered_set>

namespace tesvano {

ImportReviewModel::ImportReviewModel(ImportPlan plan, Apply apply)
    : id_(Uuid::random()), plan_(std::move(plan)), apply_(std::move(apply)) {}

void ImportReviewModel::planChanged() const {
    if (onPlanChange) {
        onPlanChange();
    }
}

void ImportReviewModel::overridesChanged() const {
    if (onOverridesChange) {
        onOverridesChange();
    }
}

void ImportReviewModel::setPlan(const ImportPlan& plan) {
    if (plan_ == plan) {
        return;
    }
    plan_ = plan;
    planChanged();
}

void ImportReviewModel::setConflictOverrides(const OverrideSet& ids) {
    if (conflictOverrides_ == ids) {
        return;
    }
    conflictOverrides_ = ids;
    overridesChanged();
}

void ImportReviewModel::setMissingOverrides(const OverrideSet& ids) {
    if (missingOverrides_ == ids) {
        return;
    }
    missingOverrides_ = ids;
    overridesChanged();
}

void ImportReviewModel::setMode(ImportMode mode) {
    plan_.mode = mode;
    planChanged();
}

void ImportReviewModel::setURLOrderUseFile(bool useFile) {
    plan_.urlOrderUseFile = useFile;
    planChanged();
}

std::vector<ImportItem> ImportReviewModel::newAppItems() const {
    std::vector<ImportItem> out = plan_.newItems();
    std::erase_if(out, [](const ImportItem& item) { return item.isURL(); });
    return out;
}

std::vector<ImportItem> ImportReviewModel::newURLItems() const {
    std::vector<ImportItem> out = plan_.newItems();
    std::erase_if(out, [](const ImportItem& item) { return !item.isURL(); });
    return out;
}

bool ImportReviewModel::allConflictsUseFile() const {
    const auto conflicts = plan_.conflictItems();
    return !conflicts.empty() && std::ranges::all_of(conflicts, [](const ImportItem& item) {
        return item.resolution == ConflictResolution::useFile;
    });
}

bool ImportReviewModel::allMissingRemoved() const {
    const auto missing = plan_.missingSourceItems();
    return !missing.empty() && std::ranges::all_of(missing, [](const ImportItem& item) {
        return item.missingDisposition == MissingSourceDisposition::remove;
    });
}

std::optional<ImportItem> ImportReviewModel::item(const std::string& id) const {
    for (const ImportItem& candidate : plan_.items) {
        if (candidate.id == id) {
            return candidate;
        }
    }
    return std::nullopt;
}

ImportItem* ImportReviewModel::firstItem(const std::string& id) {
    for (ImportItem& candidate : plan_.items) {
        if (candidate.id == id) {
            return &candidate;
        }
    }
    return nullptr;
}

void ImportReviewModel::setInclude(const std::string& id, bool include) {
    if (ImportItem* target = firstItem(id)) {
        target->include = include;
        planChanged();
    }
}

void ImportReviewModel::setResolution(const std::string& id, ConflictResolution resolution) {
    if (ImportItem* target = firstItem(id)) {
        target->resolution = resolution;
        planChanged();
    }
}

void ImportReviewModel::setMissingDisposition(const std::string& id,
                                              MissingSourceDisposition disposition) {
    if (ImportItem* target = firstItem(id)) {
        target->missingDisposition = disposition;
        planChanged();
    }
}

void ImportReviewModel::setIncludeForItems(bool include, const std::vector<std::string>& ids) {
    const std::unordered_set<std::string> wanted(ids.begin(), ids.end());
    for (ImportItem& candidate : plan_.items) {
        if (wanted.contains(candidate.id)) {
            candidate.include = include;
            planChanged();
        }
    }
}

void ImportReviewModel::setAllResolutions(ConflictResolution resolution) {
    for (ImportItem& candidate : plan_.items) {
        candidate.resolution = resolution;
        planChanged();
    }
    conflictOverrides_.clear();
    overridesChanged();
}

void ImportReviewModel::setAllMissingDispositions(MissingSourceDisposition disposition) {
    for (ImportItem& candidate : plan_.items) {
        candidate.missingDisposition = disposition;
        planChanged();
    }
    missingOverrides_.clear();
    overridesChanged();
}

void ImportReviewModel::overrideResolution(const std::string& id, ConflictResolution resolution) {
    setResolution(id, resolution);
    conflictOverrides_.insert(id);
    overridesChanged();
}

void ImportReviewModel::overrideMissingDisposition(const std::string& id,
                                                   MissingSourceDisposition disposition) {
    setMissingDisposition(id, disposition);
    missingOverrides_.insert(id);
    overridesChanged();
}

}  // namespace tesvano
