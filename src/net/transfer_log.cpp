#include "net/transfer_log.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/log.h"
#include "common/text.h"

namespace zv {

namespace {

// A proxy that wants to know who the user is answers 407; the launcher has no credentials to give.
constexpr std::uint32_t kProxyAuthenticationRequired = 407;

// From winhttp.h, and the system errors the client itself can report.
constexpr std::pair<std::uint32_t, std::string_view> kNames[] = {
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {5, "ERROR_ACCESS_DENIED"},
    {8, "ERROR_NOT_ENOUGH_MEMORY"},
    {29, "ERROR_WRITE_FAULT"},
    {32, "ERROR_SHARING_VIOLATION"},
    {33, "ERROR_LOCK_VIOLATION"},
    {87, "ERROR_INVALID_PARAMETER"},
    {112, "ERROR_DISK_FULL"},
    {123, "ERROR_INVALID_NAME"},
    {126, "ERROR_MOD_NOT_FOUND"},
    {127, "ERROR_PROC_NOT_FOUND"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {223, "ERROR_FILE_TOO_LARGE"},
    {1223, "ERROR_CANCELLED"},
    {1460, "ERROR_TIMEOUT"},
    {10053, "WSAECONNABORTED"},
    {10054, "WSAECONNRESET"},
    {10060, "WSAETIMEDOUT"},
    {12001, "ERROR_WINHTTP_OUT_OF_HANDLES"},
    {12002, "ERROR_WINHTTP_TIMEOUT"},
    {12004, "ERROR_WINHTTP_INTERNAL_ERROR"},
    {12005, "ERROR_WINHTTP_INVALID_URL"},
    {12006, "ERROR_WINHTTP_UNRECOGNIZED_SCHEME"},
    {12007, "ERROR_WINHTTP_NAME_NOT_RESOLVED"},
    {12009, "ERROR_WINHTTP_INVALID_OPTION"},
    {12011, "ERROR_WINHTTP_OPTION_NOT_SETTABLE"},
    {12012, "ERROR_WINHTTP_SHUTDOWN"},
    {12015, "ERROR_WINHTTP_LOGIN_FAILURE"},
    {12017, "ERROR_WINHTTP_OPERATION_CANCELLED"},
    {12018, "ERROR_WINHTTP_INCORRECT_HANDLE_TYPE"},
    {12019, "ERROR_WINHTTP_INCORRECT_HANDLE_STATE"},
    {12029, "ERROR_WINHTTP_CANNOT_CONNECT"},
    {12030, "ERROR_WINHTTP_CONNECTION_ERROR"},
    {12032, "ERROR_WINHTTP_RESEND_REQUEST"},
    {12037, "ERROR_WINHTTP_SECURE_CERT_DATE_INVALID"},
    {12038, "ERROR_WINHTTP_SECURE_CERT_CN_INVALID"},
    {12044, "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED"},
    {12045, "ERROR_WINHTTP_SECURE_INVALID_CA"},
    {12057, "ERROR_WINHTTP_SECURE_CERT_REV_FAILED"},
    {12100, "ERROR_WINHTTP_CANNOT_CALL_BEFORE_OPEN"},
    {12101, "ERROR_WINHTTP_CANNOT_CALL_BEFORE_SEND"},
    {12102, "ERROR_WINHTTP_CANNOT_CALL_AFTER_SEND"},
    {12103, "ERROR_WINHTTP_CANNOT_CALL_AFTER_OPEN"},
    {12150, "ERROR_WINHTTP_HEADER_NOT_FOUND"},
    {12152, "ERROR_WINHTTP_INVALID_SERVER_RESPONSE"},
    {12153, "ERROR_WINHTTP_INVALID_HEADER"},
    {12154, "ERROR_WINHTTP_INVALID_QUERY_REQUEST"},
    {12155, "ERROR_WINHTTP_HEADER_ALREADY_EXISTS"},
    {12156, "ERROR_WINHTTP_REDIRECT_FAILED"},
    {12157, "ERROR_WINHTTP_SECURE_CHANNEL_ERROR"},
    {12166, "ERROR_WINHTTP_BAD_AUTO_PROXY_SCRIPT"},
    {12167, "ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT"},
    {12169, "ERROR_WINHTTP_SECURE_INVALID_CERT"},
    {12170, "ERROR_WINHTTP_SECURE_CERT_REVOKED"},
    {12172, "ERROR_WINHTTP_NOT_INITIALIZED"},
    {12175, "ERROR_WINHTTP_SECURE_FAILURE"},
    {12176, "ERROR_WINHTTP_UNHANDLED_SCRIPT_TYPE"},
    {12177, "ERROR_WINHTTP_SCRIPT_EXECUTION_ERROR"},
    {12178, "ERROR_WINHTTP_AUTO_PROXY_SERVICE_ERROR"},
    {12179, "ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE"},
    {12180, "ERROR_WINHTTP_AUTODETECTION_FAILED"},
    {12181, "ERROR_WINHTTP_HEADER_COUNT_EXCEEDED"},
    {12182, "ERROR_WINHTTP_HEADER_SIZE_OVERFLOW"},
    {12183, "ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW"},
    {12184, "ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW"},
    {12185, "ERROR_WINHTTP_CLIENT_CERT_NO_PRIVATE_KEY"},
    {12186, "ERROR_WINHTTP_CLIENT_CERT_NO_ACCESS_PRIVATE_KEY"},
    {12187, "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED_PROXY"},
    {12188, "ERROR_WINHTTP_SECURE_FAILURE_PROXY"},
    {12190, "ERROR_WINHTTP_HTTP_PROTOCOL_MISMATCH"},
};

}  // namespace

std::string_view TransferErrorName(std::uint32_t code) {
    const auto it =
        std::find_if(std::begin(kNames), std::end(kNames), [code](const auto& n) { return n.first == code; });
    return it == std::end(kNames) ? std::string_view("unknown") : it->second;
}

std::string DescribeTransfer(std::wstring_view url, const TransferResult& result, std::uint64_t bytes,
                             std::int64_t milliseconds, std::wstring_view redirectedTo) {
    std::string line = "GET ";
    line += ToUtf8(url);
    line += " -> ";
    if (!redirectedTo.empty()) {
        line += "redirected to ";
        line += ToUtf8(redirectedTo);
        line += ", ";
    }
    if (result.httpStatus != 0) {
        line += "HTTP ";
        line += std::to_string(result.httpStatus);
        if (result.httpStatus == kProxyAuthenticationRequired) {
            line += " (the proxy asks for credentials)";
        }
        if (result.systemError != 0) {
            line += ", then ";
        }
    }
    if (result.systemError != 0) {
        line += "error ";
        line += std::to_string(result.systemError);
        line += ' ';
        line += TransferErrorName(result.systemError);
    } else if (result.httpStatus == 0) {
        line += "no response";
    }
    line += ", ";
    line += std::to_string(bytes);
    line += " bytes in ";
    line += std::to_string(milliseconds);
    line += " ms";
    return line;
}

}  // namespace zv
