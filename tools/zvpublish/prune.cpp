#include "prune.h"

#include "update/tree_layout.h"

namespace zv::publish {

namespace {

void PlanFolder(PrunePlan& plan, const ManifestFolder& folder, FileTime now, std::chrono::seconds olderThan) {
    if (folder.state != ManifestState::Good) {
        plan.leftAlone.push_back({JoinPath(folder.path, std::wstring(kManifestName)),
                                  folder.problem + ", so nothing in its folder is removed"});
        return;
    }
    for (const auto& file : folder.files) {
        if (file.named) {
            continue;
        }
        if (!file.facts) {
            plan.ageUnknown.push_back(file);
        } else if (std::chrono::floor<std::chrono::seconds>(now - file.facts->modified) > olderThan) {
            plan.remove.push_back(file);
        } else {
            plan.young.push_back(file);
        }
    }
}

}  // namespace

PrunePlan PlanPrune(const TreeContents& contents, FileTime now, std::chrono::seconds olderThan) {
    PrunePlan plan;
    if (contents.launcher) {
        PlanFolder(plan, *contents.launcher, now, olderThan);
    }
    for (const auto& folder : contents.stubs) {
        PlanFolder(plan, folder, now, olderThan);
    }
    for (const auto& unlisted : contents.unlisted) {
        plan.leftAlone.push_back({unlisted.path, unlisted.reason + ", so nothing in it is removed"});
    }
    return plan;
}

PruneResult CarryOutPrune(const PrunePlan& plan) {
    PruneResult result;
    for (const auto& file : plan.remove) {
        std::string reason;
        if (RemoveFile(file.path, reason)) {
            result.freed += file.facts ? file.facts->size : 0;
            result.removed.push_back(file);
        } else {
            result.failed.push_back({file.path, "cannot be removed: " + reason});
        }
    }
    return result;
}

}  // namespace zv::publish
