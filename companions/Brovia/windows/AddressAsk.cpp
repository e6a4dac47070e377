#include "AddressAsk.h"

#include <windows.h>

// After windows.h, whose types it uses.
#include <wininet.h>

namespace {

AddressAnswer::Kind kindOfFailure(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return AddressAnswer::Kind::NoAnswer;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        return AddressAnswer::Kind::Handshake;
    default:
        return AddressAnswer::Kind::Unreachable;
    }
}

} // namespace

AddressAnswer askAddress(const std::string& url) {
    AddressAnswer answer;
    HINTERNET session = InternetOpenA("Brovia", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session)
        return answer;
    DWORD connect = 5000, receive = 5000;
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_PRAGMA_NOCACHE;
    HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0, flags, 0);
    if (!request) {
        answer.kind = kindOfFailure(GetLastError());
    } else {
        DWORD status = 0, size = sizeof status;
        if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                           nullptr)) {
            answer.kind = AddressAnswer::Kind::Status;
            answer.status = int(status);
        } else {
            answer.kind = AddressAnswer::Kind::NoAnswer;
        }
        InternetCloseHandle(request);
    }
    InternetCloseHandle(session);
    return answer;
}
