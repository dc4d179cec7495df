#pragma once

#include <string_view>

#include "common/launch_result.h"
#include "launch/target_discovery.h"
#include "net/transfer.h"
#include "update/update_source.h"
#include "update/update_system.h"

namespace zv {

// Brings the client stub (ZVClient.dll beside the launcher) to the version the update server
// names for this game build, whose key is the SHA-1 of the client target's code section.
// Returns 0 when the stub is current (unchanged, after a 300 ms pause) or was replaced and
// verified, otherwise 12 to 16 (32 to 34 with keys):
//  - The download is written to "ZVClient.dll.partial" beside the stub, checked there and renamed
//    over the stub through the handle it was checked under (staging.h): the stub is only ever the
//    one it was or the verified one, however the run ends. A download that fails, or a staging
//    file that cannot be made, gives 15; a download that is not what the manifest names gives 16;
//    a stub that stays in use (a running game) for 10 seconds gives 15. The stub stays as it was
//    and the staging file is removed on each.
// Without keys, "sha1" decides, and a server that answers 404 for the build's manifest does not
// know the build: the client target is deleted (12). With keys (manifest_signature.h):
//  - a 404 deletes nothing (12): only a signed withdrawal does, when its version is at or above
//    the highest accepted for the build; the client target is then deleted (34);
//  - a manifest not signed for this host and path by one of them, or not well-formed, is used for
//    nothing (32), and an expired one neither (33);
//  - a manifest below the highest version accepted for the build (its mark, manifest_marks.h, which
//    counts while one of the keys signed the manifest it came from) is never used to download: the
//    game goes on (0) when the stub of that version is in place, otherwise 33;
//  - "sha256" decides whether the stub is current, the download must be exactly "size" bytes long
//    (15 otherwise) with both digests (16), and a version found current or verified becomes the
//    mark, with the key that signed it.
// Nothing is deleted for 32 or 33.
StepResult UpdateClientStub(const GameLocation& location, const UpdateSource& source, Transfer& transfer,
                            UpdateSystem& system);

}  // namespace zv
