#include "http/WininetHttp.h"

#include "common/DebugPrint.h"
#include "common/Numbers.h"
#include "common/Utf8.h"
#include "http/UrlSplit.h"
#include "platform/Files.h"
#include "platform/NarrowText.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr char kAgent[] = "Http-connect";
constexpr char kVersion[] = "HTTP/1.1";
constexpr size_t kReplyChunk = 4096;
// A reply body larger than this is no reply of the service: an endless body
// must not grow the reply without bound.
constexpr size_t kReplyMax = 16 * 1024 * 1024;
constexpr size_t kDownloadHeaderRoom = 1024;
constexpr size_t kDownloadHeaderRoomW = kDownloadHeaderRoom / 2;
constexpr size_t kDownloadBlockMax = 1048576;
constexpr int kEmptyReadsMax = 3;
constexpr size_t kDownloadLineMax = 300;
constexpr uint32_t kBufferDownloadMax = 1048576;
constexpr size_t kUploadBlock = 409600;
constexpr size_t kDispositionLineRoom = 200;
constexpr uint64_t kUploadSizeLimit = uint64_t(1) << 32;
constexpr char kBoundary[] = "----WebKitFormBoundaryloomhavenclient";

void writeErrorLine(const char* operation, int32_t error) {
    char line[100] = {};
    std::snprintf(line, sizeof line, "%s error.%d,GetLastError.%d \n", operation, error,
                  platform::internetLastError());
    OutputDebugText(line);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;
using Block = std::unique_ptr<char, decltype(&std::free)>;

// Runs one operation's steps. A failure value thrown by a step, or memory
// running out, goes to onFailure, and the operation gives its empty result.
template <typename Result, typename Steps, typename OnFailure>
Result guarded(Steps steps, OnFailure onFailure) {
    try {
        return steps();
    } catch (HttpInterfaceError error) {
        onFailure(error);
    } catch (const std::bad_alloc&) {
        onFailure(HttpErrNoMemory);
    }
    return Result();
}

[[noreturn]] void failWithErrno(HttpInterfaceError error, int number = errno) {
    platform::setInternetLastError(number);
    throw error;
}

// The status code of a status line ("HTTP/1.1 403 Forbidden" gives 403); 0
// when the line holds none.
template <typename Char> int statusCodeOf(const Char* statusLine) {
    std::basic_string_view<Char> line(statusLine);
    size_t space = line.find(Char(' '));
    return space == line.npos ? 0 : parseDecimalInt(line.substr(space + 1));
}

// Creates every missing folder along the path; only the platform's folder
// separator separates folders. Failures are left for the file creation to
// report.
void createFolders(const std::string& path) {
    const char separator = platform::folderSeparator();
    for (size_t slash = path.find(separator); slash != std::string::npos;
         slash = path.find(separator, slash + 1)) {
        if (slash == 0)
            continue;
        std::filesystem::path folder(path.substr(0, slash));
        std::error_code ec;
        if (!std::filesystem::exists(folder, ec))
            std::filesystem::create_directory(folder, ec);
    }
}

// Wide text (a URL, a local path) in the program's narrow text, which the
// platform's handles and files take.
std::string narrowFromWide(std::wstring_view wide) {
    return platform::narrowFromUtf8(utf8::fromWide(wide));
}

// The file name goes into a quoted header of the multipart body: a CR, LF or
// double quote would let it end the header or the quotes.
bool formFileNameIsSafe(std::string_view name) {
    return name.find_first_of("\r\n\"") == std::string_view::npos;
}

} // namespace

CWininetHttp::CWininetHttp(platform::InternetTimeouts timeouts) : timeouts_(timeouts) {}

CWininetHttp::~CWininetHttp() {
    closeHandles();
}

void CWininetHttp::closeHandles() {
    request_.reset();
    connection_.reset();
    session_.reset();
}

void CWininetHttp::openHandles(const std::string& host, int32_t port, const std::string& path,
                               const char* verb) {
    session_ = platform::InternetSession::open(kAgent, timeouts_);
    if (!session_)
        throw HttpErrOpen;
    // A port beyond 16 bits would wrap round to another one: no connection.
    if (port < 0 || port > 65535) {
        platform::setInternetLastError(platform::kInternetErrorInvalidParameter);
        throw HttpErrConnect;
    }
    connection_ = platform::InternetConnection::open(*session_, host, static_cast<uint16_t>(port));
    if (!connection_)
        throw HttpErrConnect;
    request_ = platform::InternetRequest::open(*connection_, verb, path, kVersion, true);
    if (!request_)
        throw HttpErrOpen;
}

void CWininetHttp::openHandles(const wchar_t* url, const char* verb) {
    UrlPartsW parts = splitUrl(std::wstring_view(url));
    openHandles(narrowFromWide(parts.host), parts.port, narrowFromWide(parts.path), verb);
}

void CWininetHttp::checkStatus(char* buffer, size_t room, bool refuseErrorStatus) {
    std::memset(buffer, 0, room + 1);
    size_t size = room;
    if (!request_->queryRawHeaders(buffer, &size))
        throw HttpErrQueryInfo;
    // Every header line ends with a NUL, so only the status line is searched.
    if (std::strstr(buffer, "404"))
        throw HttpErrNotFound;
    // A download saves the body as the file: an error page is no file.
    if (refuseErrorStatus && statusCodeOf(buffer) >= 400)
        throw HttpErrNotFound;
}

std::string CWininetHttp::readReply(char* buffer, size_t room) {
    // The body is kept byte for byte, NUL bytes included. A body that breaks
    // off (the connection closed or reset before the announced length, or
    // stalled) is no reply.
    std::string reply;
    for (;;) {
        size_t count = 0;
        if (!request_->read(buffer, room, &count))
            throw HttpErrSizeMismatch;
        if (count == 0)
            return reply;
        if (count > kReplyMax - reply.size())
            throw HttpErrTooLarge;
        reply.append(buffer, count);
    }
}

std::string CWininetHttp::exchange(const std::string& url, int32_t method, const char* body,
                                   std::string_view headers) {
    closeHandles();
    UrlParts parts = splitUrl(url);
    openHandles(parts.host, parts.port, parts.path, method == 1 ? "GET" : "POST");
    const char* sent = nullptr;
    size_t length = 0;
    if (method != 1 && body) {
        sent = body;
        length = std::strlen(body);
    }
    if (!request_->send(headers, sent, length))
        throw HttpErrSend;
    char buffer[kReplyChunk + 1];
    checkStatus(buffer, kReplyChunk);
    return readReply(buffer, kReplyChunk);
}

std::string CWininetHttp::Request(const char* url, int32_t method, const char* body,
                                  const char* headers) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    platform::setInternetLastError(0);
    return guarded<std::string>(
        [&] {
            if (!url || !*url)
                throw HttpErrUrl;
            return exchange(url, method, body, headers ? headers : "");
        },
        [&](HttpInterfaceError error) {
            writeErrorLine("CWininetHttp::Request", error);
            errorCode_ = error;
        });
}

std::string CWininetHttp::RequestW(const wchar_t* url, int32_t method, const char* body,
                                   const wchar_t* headers) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    platform::setInternetLastError(0);
    return guarded<std::string>(
        [&] {
            if (!url || !*url)
                throw HttpErrUrl;
            return exchange(narrowFromWide(url), method, body,
                            headers ? narrowFromWide(headers) : std::string());
        },
        [&](HttpInterfaceError error) { errorCode_ = error; });
}

void CWininetHttp::notify(int32_t status, double total, double done) {
    if (callback_)
        callback_->OnProgress(context_, status, total, done);
}

bool CWininetHttp::DownloadFile(const wchar_t* url, const wchar_t* localPath) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    platform::setInternetLastError(0);
    return guarded<bool>([&] { return downloadFile(url, localPath); },
                         [&](HttpInterfaceError error) {
                             writeErrorLine("CWininetHttp::DownloadFile", error);
                             errorCode_ = error;
                             notify(1, 0.0, 0.0);
                         });
}

bool CWininetHttp::downloadFile(const wchar_t* url, const wchar_t* localPath) {
    if (!url || !*url)
        throw HttpErrParam;
    closeHandles();
    openHandles(url, "GET");
    if (!request_->send({}, nullptr, 0))
        throw HttpErrSend;

    char header[kDownloadHeaderRoom + 1];
    checkStatus(header, kDownloadHeaderRoom, true);
    size_t size = kDownloadHeaderRoom;
    if (!request_->queryContentLength(header, &size))
        throw HttpErrQueryInfo;
    header[size] = '\0';
    const double total = parseDecimalDouble(header);

    size_t blockSize = kDownloadBlockMax;
    if (total < double(kDownloadBlockMax))
        blockSize = total > 0 ? static_cast<size_t>(total) : 0;
    Block block(static_cast<char*>(std::malloc(blockSize > 0 ? blockSize : 1)), &std::free);
    if (!block)
        throw HttpErrNoMemory;

    const std::wstring pathW = localPath ? localPath : L"";
    const std::string path = narrowFromWide(pathW);
    createFolders(path);
    // The body goes to a new file beside the old one, which takes the old
    // one's place only when the whole body has come: a download that breaks
    // off leaves the old file as it was.
    platform::FileReplacement file;
    int fileError = 0;
    if (!file.open(path, fileError))
        failWithErrno(HttpErrLocalFile, fileError);

    double done = 0.0;
    int emptyReads = 0;
    do {
        size_t count = 0;
        bool readOk = request_->read(block.get(), blockSize, &count);
        if (count == 0 && total != 0) {
            std::wstring line = L"CWininetHttp::DownloadFile InternetReadFile." +
                                std::to_wstring(readOk ? 1 : 0) + L",dwReadSize.0," + pathW +
                                L" \n";
            if (line.size() > kDownloadLineMax - 1)
                line.resize(kDownloadLineMax - 1);
            OutputDebugTextW(line);
            if (++emptyReads == kEmptyReadsMax)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        emptyReads = 0;
        // A block the disk did not take would leave a damaged file behind
        // a reported success.
        if (count > 0 && !file.write(block.get(), count, fileError))
            failWithErrno(HttpErrLocalFile, fileError);
        done += double(count);
        notify(0, total, done);
    } while (done < total);

    if (done != total)
        throw HttpErrSizeMismatch;
    if (!file.commit(fileError))
        failWithErrno(HttpErrLocalFile, fileError);
    notify(2, total, done);
    return true;
}

bool CWininetHttp::DownloadToBuffer(const wchar_t* url, char** block, int32_t* length) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    platform::setInternetLastError(0);
    return guarded<bool>([&] { return downloadToBuffer(url, block, length); },
                         [&](HttpInterfaceError error) { errorCode_ = error; });
}

bool CWininetHttp::downloadToBuffer(const wchar_t* url, char** block, int32_t* length) {
    if (!url || !*url || !block || !length)
        throw HttpErrParam;
    closeHandles();
    openHandles(url, "GET");
    if (!request_->send({}, nullptr, 0))
        throw HttpErrSend;

    wchar_t header[kDownloadHeaderRoomW + 1] = {};
    size_t size = kDownloadHeaderRoomW;
    if (!request_->queryRawHeaders(header, &size))
        throw HttpErrQueryInfo;
    // An error page is no download, whatever its status.
    if (std::wcsstr(header, L"404") || statusCodeOf(header) >= 400)
        throw HttpErrNotFound;
    size = kDownloadHeaderRoomW;
    if (!request_->queryContentLength(header, &size))
        throw HttpErrQueryInfo;
    header[size] = L'\0';
    const int32_t announced = parseDecimalInt(std::wstring_view(header));
    if (static_cast<uint32_t>(announced) > kBufferDownloadMax)
        throw HttpErrTooLarge;

    const size_t expected = static_cast<size_t>(announced);
    Block memory(static_cast<char*>(std::malloc(expected > 0 ? expected : 1)), &std::free);
    if (!memory)
        throw HttpErrNoMemory;
    size_t received = 0;
    while (received < expected) {
        size_t count = 0;
        if (!request_->read(memory.get() + received, expected - received, &count) || count == 0)
            break;
        received += count;
    }
    if (received != expected)
        throw HttpErrSizeMismatch;
    *block = memory.release();
    *length = static_cast<int32_t>(received);
    return true;
}

std::string CWininetHttp::UploadFile(const char* url, const char* localPath, const char* fileName) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    platform::setInternetLastError(0);
    return guarded<std::string>([&] { return uploadFile(url, localPath, fileName); },
                                [&](HttpInterfaceError error) {
                                    errorCode_ = error;
                                    notify(1, 0.0, 0.0);
                                    char line[100] = {};
                                    std::snprintf(line, sizeof line, "%s(): GetLastError.%d\n",
                                                  "CWininetHttp::UploadFile",
                                                  platform::internetLastError());
                                    OutputDebugText(line);
                                });
}

// The local file is closed once: after its last block, or while a failure
// unwinds.
std::string CWininetHttp::uploadFile(const char* url, const char* localPath, const char* fileName) {
    if (!url || !*url)
        throw HttpErrParam;
    closeHandles();
    UrlParts parts = splitUrl(url);
    openHandles(parts.host, parts.port, parts.path, "POST");

    const std::string boundary = kBoundary;
    if (!request_->addHeader("Content-Type:multipart/form-data; boundary=" + boundary) ||
        !request_->addHeader("Accept:application/json"))
        throw HttpErrAddHeader;

    const std::string name = fileName ? fileName : "";
    const std::string opening = "--" + boundary + "\r\n";
    const std::string disposition =
        "Content-Disposition: form-data; name=\"file_data\"; filename=\"" + name + "\"\r\n";
    const std::string type = "Content-Type: application/octet-stream\r\n\r\n";
    const std::string closing = "\r\n--" + boundary + "--\r\n";
    if (!fileName || !formFileNameIsSafe(name) || disposition.size() > kDispositionLineRoom - 1) {
        platform::setInternetLastError(platform::kInternetErrorInvalidParameter);
        throw HttpErrParam;
    }

    errno = ENOENT;
    File file(localPath ? std::fopen(localPath, "rb") : nullptr);
    if (!file)
        failWithErrno(HttpErrLocalFile);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(localPath, ec)) {
        errno = EISDIR;
        failWithErrno(HttpErrLocalFile);
    }
    long end = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
    if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        failWithErrno(HttpErrLocalFile);
    const uint64_t fileSize = static_cast<uint64_t>(end);
    // The size and the counters of the form are 32-bit.
    if (fileSize >= kUploadSizeLimit) {
        errno = EFBIG;
        failWithErrno(HttpErrLocalFile);
    }

    const uint64_t bodyLength =
        opening.size() + disposition.size() + type.size() + fileSize + closing.size();
    if (!request_->beginSend(bodyLength))
        throw HttpErrSend;
    size_t written = 0;
    request_->write(opening.data(), opening.size(), &written);
    request_->write(disposition.data(), disposition.size(), &written);
    request_->write(type.data(), type.size(), &written);

    std::vector<char> buffer(kUploadBlock);
    double sent = 0.0;
    size_t count = 0;
    do {
        count = std::fread(buffer.data(), 1, kUploadBlock, file.get());
        if (count == 0)
            break;
        written = 0;
        if (!request_->write(buffer.data(), count, &written) || written != count)
            break;
        sent += double(written);
        notify(0, double(fileSize), sent);
    } while (count == kUploadBlock);
    file.reset();

    // A body that was not sent whole (the server answered early and closed,
    // or the connection broke) is a failed upload, whatever the reply: the
    // end of the request then fails.
    request_->write(closing.data(), closing.size(), &written);
    if (!request_->endRequest() || sent != double(fileSize))
        throw HttpErrSend;
    notify(2, double(fileSize), sent);

    char reply[kReplyChunk + 1];
    checkStatus(reply, kReplyChunk);
    return readReply(reply, kReplyChunk);
}

void CWininetHttp::SetCallback(IHttpCallback* callback, uint32_t context) {
    callback_ = callback;
    context_ = context;
}

int32_t CWininetHttp::GetErrorCode() {
    return errorCode_;
}

void CWininetHttp::Release() {
    delete this;
}
