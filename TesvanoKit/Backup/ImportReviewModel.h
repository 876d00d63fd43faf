#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "TesvanoKit/Backup/ImportPlan.h"
#include "TesvanoKit/Rules/Uuid.h"

namespace tesvano {

// The one mutable state of an import review: the plan with the user's choices, and which rows
// the user set one by one (so the review can mark the rest as following the section-wide
// choice). It never touches the application's state: confirming hands the plan to `apply`,
// which the creator supplied. Main thread only.
class ImportReviewModel {
public:
    using Apply = std::function<ImportOutcome(const ImportPlan&)>;
    using OverrideSet = std::set<std::string>;

    ImportReviewModel(ImportPlan plan, Apply apply);

    const Uuid& id() const { return id_; }
    const ImportPlan& plan() const { return plan_; }
    const OverrideSet& conflictOverrides() const { return conflictOverrides_; }
    const OverrideSet& missingOverrides() const { return missingOverrides_; }
    const Apply& apply() const { return apply_; }

    // Whole-value writers: silent when the value is equal.
    void setPlan(const ImportPlan& plan);
    void setConflictOverrides(const OverrideSet& ids);
    void setMissingOverrides(const OverrideSet& ids);
    // Field writers of the plan (the review's pickers): they always announce.
    void setMode(ImportMode mode);
    void setURLOrderUseFile(bool useFile);

    std::vector<ImportItem> newAppItems() const;  // the global default counts here
    std::vector<ImportItem> newURLItems() const;
    bool allConflictsUseFile() const;
    bool allMissingRemoved() const;
    // A copy of the first item with this id.
    std::optional<ImportItem> item(const std::string& id) const;

    // Each acts on the first item with the id and announces even an unchanged value; an id
    // no item has changes and announces nothing.
    void setInclude(const std::string& id, bool include);
    void setResolution(const std::string& id, ConflictResolution resolution);
    void setMissingDisposition(const std::string& id, MissingSourceDisposition disposition);

    // Every item whose id is listed, duplicates included.
    void setIncludeForItems(bool include, const std::vector<std::string>& ids);
    // Every item of the plan, then the per-row record of that section is forgotten.
    void setAllResolutions(ConflictResolution resolution);
    void setAllMissingDispositions(MissingSourceDisposition disposition);
    // A choice made on an item's own row: the edit, then the id goes into the override set.
    void overrideResolution(const std::string& id, ConflictResolution resolution);
    void overrideMissingDisposition(const std::string& id, MissingSourceDisposition disposition);

    // Called once per announced change of the plan or of an override set.
    std::function<void()> onPlanChange;
    std::function<void()> onOverridesChange;

private:
    ImportItem* firstItem(const std::string& id);
    void planChanged() const;
    void overridesChanged() const;

    Uuid id_;
    ImportPlan plan_;
    OverrideSet conflictOverrides_;
    OverrideSet missingOverrides_;
    Apply apply_;
};

}  // namespace tesvano
