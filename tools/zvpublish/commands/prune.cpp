#include "zvpublish/commands/prune.h"

#include <algorithm>

#include "update/tree_layout.h"

namespace zv::publish {

namespace {

void PlanFolder(PrunePlan& plan, const ManifestFolder& folder, FileTime now, std::chrono::seconds olderThan) {
    if (!folder.Served()) {
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

// Whether the file relative (below tree, "/" between the parts), or a folder on the way to it, is a
// link now.
bool LinkOnTheWay(const std::wstring& tree, const std::string& relative) {
    std::wstring path = tree;
    for (std::size_t at = 0; at <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', at), relative.size());
        path = JoinPath(path, FromUtf8(relative.substr(at, end - at)));
        if (IsLinkOrReparsePoint(path)) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

PrunePlan PlanPrune(const TreeContents& contents, const std::wstring& tree, FileTime now,
                    std::chrono::seconds olderThan) {
    PrunePlan plan;
    plan.tree = tree;
    plan.links = contents.links;
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
        // The tree may have changed since it was read: never remove through a link.
        if (LinkOnTheWay(plan.tree, file.relative)) {
            result.failed.push_back(
                {file.path, "is, or lies in a folder that is, a symbolic link now; it was not removed"});
        } else if (RemoveFile(file.path, reason)) {
            result.freed += file.facts ? file.facts->size : 0;
            result.removed.push_back(file);
        } else {
            result.failed.push_back({file.path, "cannot be removed: " + reason});
        }
    }
    return result;
}

}  // namespace zv::publish
