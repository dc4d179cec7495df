#pragma once

// Removing what a tree no longer serves: content-named files (tree_contents.h) that no manifest
// names and that nobody has modified for a given time. A file's age counts from the moment a
// publish replaced the manifest that named it (publishing sets its modification time then), so a
// player whose cached manifest still names it can finish the download.
//
// Never removed: manifests, hidden files, anything that is not a content-named file, any file in a
// folder whose manifest is missing or cannot be read (nobody can say which of its files players
// are sent), a file whose age cannot be read, and a link: prune neither enters a folder that is a
// link nor removes a file that is one, nor a file whose folder became a link after it was planned.
// The files of a withdrawn build are named by no manifest, and go like any other such file.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "zvpublish/tree/tree_contents.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

struct PrunePlan {
    std::vector<ContentFile> remove;      // named by no manifest and old enough, in tree order
    std::vector<ContentFile> young;       // named by no manifest, not old enough yet
    std::vector<ContentFile> ageUnknown;  // named by no manifest, but their age cannot be read: kept
    // Folders nothing is removed from, and why (a manifest that is missing or cannot be read, a
    // folder that cannot be listed).
    std::vector<Failure> leftAlone;
    std::vector<LinkInTree> links;  // left alone
    std::wstring tree;
};

// What pruning contents at now removes: every content-named file of a folder whose manifest is
// good, named by no manifest, whose modification time lies more than olderThan before now, in
// whole seconds. A file modified after now (a clock set differently) is young.
PrunePlan PlanPrune(const TreeContents& contents, const std::wstring& tree, FileTime now,
                    std::chrono::seconds olderThan);

struct PruneResult {
    std::vector<ContentFile> removed;
    std::vector<Failure> failed;  // files that could not be removed, and why
    std::uint64_t freed = 0;      // bytes of the removed files
};

// Removes the files plan.remove lists, one after another; one that cannot be removed, or that a
// link now lies on the way to, is reported and the rest still go.
PruneResult CarryOutPrune(const PrunePlan& plan);

}  // namespace zv::publish
