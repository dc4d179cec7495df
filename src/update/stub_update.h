#pragma once

#include <span>
#include <string_view>

#include "common/launch_result.h"
#include "integrity/p256.h"
#include "launch/target_discovery.h"
#include "net/transfer.h"
#include "update/update_system.h"

namespace zv {

// Brings the client stub (ZVClient.dll beside the launcher) to the version the update server
// names for this game build, whose key is the SHA-1 of the client target's code section.
// Returns 0 when the stub is current (unchanged, after a 300 ms pause) or was replaced and
// verified, otherwise 12 to 16:
//  - A server that answers 404 for the build's manifest does not know the build: the client target
//    is deleted (12).
//  - A download that fails leaves the stub as the transfer left it (15).
//  - A downloaded stub whose SHA-1 differs from the manifest's is deleted, so no unverified stub is
//    left for the game to load (16).
// updateHost is a host or host:port reached over https.
//  - With keys (a build with ZV_UPDATE_PUBLIC_KEYS), a manifest whose signature no key verifies
//    is used for nothing (13, nothing deleted), and the download must match "sha256" too (16).
StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost, Transfer& transfer,
                            UpdateSystem& system, std::span<const P256PublicKey> keys = {});

// The same over WinHTTP with the real acts (Windows only).
StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost);

}  // namespace zv
