#pragma once

// Addresses and hosts as zvpublish compares them: the base address a tree is served at, and the
// host of an address or of an update host, each spelling of one host brought to one text.

#include <optional>
#include <string>
#include <string_view>

namespace zv::publish {

// The address the tree is served at: "https://", a host, an optional port and path, ending in "/".
// Only printable ASCII without blanks (IsVisibleAscii), no query or fragment, no "." or ".."
// segments: the launcher takes a manifest's "url" byte for byte. A missing final "/" is added.
// Nothing with the reason when text is not such an address.
std::optional<std::string> NormaliseBaseUrl(std::string_view text, std::string& reason);

// A host (host or host:port, as ZV_UPDATE_HOST or an address's authority gives it) as a client
// connects to it: ASCII lower case, as MessageHost forms HOST of the signed messages, without
// defaultPort, the port the scheme leaves out (":443" for https, ":80" for http). Comparable with
// UrlHost of an address.
std::string ComparableHost(std::string_view host, std::string_view defaultPort = ":443");

// The host of an https:// or http:// address as a client connects to it: ComparableHost of its
// authority without a user name. Nothing when there is no host.
std::optional<std::string> UrlHost(std::string_view url);

}  // namespace zv::publish
