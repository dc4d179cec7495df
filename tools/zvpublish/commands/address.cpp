#include "zvpublish/commands/address.h"

#include <algorithm>
#include <cstddef>

#include "common/text.h"

namespace zv::publish {

std::optional<std::string> NormaliseBaseUrl(std::string_view text, std::string& reason) {
    constexpr std::string_view kScheme = "https://";
    if (!IsVisibleAscii(text)) {
        reason = "must be printable ASCII without blanks (percent-encode anything else)";
        return std::nullopt;
    }
    std::string url(text);
    const std::size_t schemeLength = std::min(url.size(), kScheme.size());
    url.replace(0, schemeLength, FoldAsciiCase(url.substr(0, schemeLength)));
    if (!url.starts_with(kScheme)) {
        reason = "must begin with https:// (the launcher's downloads must be as safe as its manifests)";
        return std::nullopt;
    }
    if (url.find_first_of("?#") != std::string::npos) {
        reason = "must not have a query or a fragment";
        return std::nullopt;
    }
    if (url.find('\\') != std::string::npos) {
        reason = "must separate its path with \"/\", not \"\\\"";
        return std::nullopt;
    }
    const std::size_t pathStart = url.find('/', kScheme.size());
    const std::string authority = url.substr(kScheme.size(), pathStart - kScheme.size());
    if (authority.empty()) {
        reason = "has no host";
        return std::nullopt;
    }
    if (authority.find('@') != std::string::npos) {
        reason = "must not carry a user name or password";
        return std::nullopt;
    }
    // host, [IPv6], each optionally followed by :port
    const std::size_t portColon = authority.starts_with('[') ? authority.find("]:") : authority.rfind(':');
    if (portColon != std::string::npos) {
        const std::string port = authority.substr(portColon + (authority.starts_with('[') ? 2 : 1));
        const bool digits = !port.empty() && port.size() <= 5 &&
                            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || std::stoul(port) == 0 || std::stoul(port) > 65535) {
            reason = "has an invalid port";
            return std::nullopt;
        }
    }
    if (pathStart == std::string::npos) {
        url += '/';
    } else {
        std::string path = url.substr(pathStart);
        for (std::size_t at = 1; at < path.size();) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            const std::string_view segment = std::string_view(path).substr(at, end - at);
            if (segment == "." || segment == ".." || (segment.empty() && end < path.size())) {
                reason = "must not have empty, \".\" or \"..\" path segments";
                return std::nullopt;
            }
            at = end + 1;
        }
        if (!url.ends_with('/')) {
            url += '/';
        }
    }
    return url;
}

std::string ComparableHost(std::string_view host, std::string_view defaultPort) {
    std::string text = FoldAsciiCase(host);
    if (text.ends_with(defaultPort)) {
        text.erase(text.size() - defaultPort.size());
    }
    return text;
}

std::optional<std::string> UrlHost(std::string_view url) {
    std::string_view port;
    if (url.starts_with("https://")) {
        url.remove_prefix(8);
        port = ":443";
    } else if (url.starts_with("http://")) {
        url.remove_prefix(7);
        port = ":80";
    } else {
        return std::nullopt;
    }
    std::string_view authority = url.substr(0, std::min(url.find_first_of("/?#"), url.size()));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string host = ComparableHost(authority, port);
    if (host.empty() || host.front() == ':') {
        return std::nullopt;
    }
    return host;
}

}  // namespace zv::publish
