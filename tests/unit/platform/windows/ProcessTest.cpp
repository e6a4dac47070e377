// Starting the page browser with CreateProcessA and the wall's start-up
// information, and ending it with taskkill.
#include "platform/Process.h"
#include "platform/windows/PipeReading.h"

#include "TempDir.h"
#include "WindowsProbe.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>
#include <windows.h>

namespace {

// A folder holding the probe under the page browser's name.
struct BrowserFolder {
    TempDir dir;
    std::string folder = dir.path().string();
    BrowserFolder() { CopyFileA(probePath().c_str(), (folder + "\\Brovia.exe").c_str(), FALSE); }
};

// The probe's record: name=value lines.
std::map<std::string, std::string> readRecord(const std::string& path) {
    std::map<std::string, std::string> record;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = TempDir::readFile(path);
        if (text.find("show=") != std::string::npos && text.back() == '\n')
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            record[line.substr(0, equals)] = line.substr(equals + 1);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return record;
}

bool processRuns(pid_t pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return false;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

} // namespace

// The command line is the browser's own ("Brovia.exe /left L /top T /bottom B
// /right R /url U", the address unquoted), and the window is asked for over
// the work area: cb 68, an empty title, flags 7, SW_SHOWDEFAULT.
TEST(WindowsProcess, StartsTheBrowserWithThePartsCommandLineAndPlacement) {
    BrowserFolder browser;
    const std::string out = browser.dir.file("record.txt");
    ProbeEnvironment env("PANOVIEW_PROBE_OUT", out);
    const Rect work{1920, 32, 3840, 1080};
    std::promise<pid_t> ended;
    pid_t pid = 0;
    ASSERT_EQ(platform::spawnProcess(
                  "Brovia",
                  {"/left", "1920", "/top", "32", "/bottom", "1080", "/right", "3840", "/url",
                   "http://127.0.0.1:8080/KnitUI/jqzt.html?token=t1&flag=multiscreen"},
                  browser.folder, pid, [&](pid_t p) { ended.set_value(p); }, nullptr, &work),
              0);
    EXPECT_GT(pid, 0);
    auto endedPid = ended.get_future();
    ASSERT_EQ(endedPid.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(endedPid.get(), pid);

    auto record = readRecord(out);
    EXPECT_EQ(record["commandLine"],
              "Brovia.exe /left 1920 /top 32 /bottom 1080 /right 3840 /url "
              "http://127.0.0.1:8080/KnitUI/jqzt.html?token=t1&flag=multiscreen");
    EXPECT_EQ(sizeof(STARTUPINFOA), 68u);
    EXPECT_EQ(record["title"], "");
    EXPECT_EQ(record["x"], "1920");
    EXPECT_EQ(record["y"], "32");
    EXPECT_EQ(record["width"], "1920");
    EXPECT_EQ(record["height"], "1048");
    EXPECT_EQ(record["flags"], "7");
    EXPECT_EQ(record["show"], "10");
}

// With a report pipe, the browser finds its write end named in
// BROVIA_REPORT_FD and what it writes comes out of the read end, which ends
// once the browser has ended; the start-up information is the same.
TEST(WindowsProcess, ReportPipeCarriesTheBrowsersLinesToItsEnd) {
    BrowserFolder browser;
    const std::string out = browser.dir.file("record.txt");
    ProbeEnvironment record("PANOVIEW_PROBE_OUT", out);
    ProbeEnvironment report("PANOVIEW_PROBE_REPORT", "page live 1 0 plain window");
    const Rect work{0, 0, 1920, 1048};
    platform::ChildPipe pipe{"BROVIA_REPORT_FD"};
    pid_t pid = 0;
    ASSERT_EQ(
        platform::spawnProcess("Brovia", {"/url", "u"}, browser.folder, pid, {}, &pipe, &work), 0);
    ASSERT_GE(pipe.readEnd, 0);
    std::mutex mutex;
    std::string bytes;
    std::promise<void> ended;
    ASSERT_TRUE(platform::readPipeUntilEnd(
        pipe.readEnd,
        [&](std::string more) {
            std::lock_guard<std::mutex> lock(mutex);
            bytes += more;
        },
        [&] { ended.set_value(); }));
    ASSERT_EQ(ended.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the read end sees the end once the browser has ended";
    EXPECT_EQ(bytes, "page live 1 0 plain window\n");
    auto placed = readRecord(out);
    EXPECT_EQ(placed["flags"], "7");
    EXPECT_EQ(placed["width"], "1920");
    EXPECT_EQ(placed["height"], "1048");
    EXPECT_EQ(placed["title"], "");
}

// An argument with blanks or quotation marks still arrives whole.
TEST(WindowsProcess, ArgumentWithBlanksIsQuoted) {
    BrowserFolder browser;
    const std::string out = browser.dir.file("record.txt");
    ProbeEnvironment env("PANOVIEW_PROBE_OUT", out);
    pid_t pid = 0;
    ASSERT_EQ(
        platform::spawnProcess("Brovia", {"/url", "a b", "say \"hi\"\\"}, browser.folder, pid), 0);
    EXPECT_EQ(readRecord(out)["commandLine"], "Brovia.exe /url \"a b\" \"say \\\"hi\\\"\\\\\"");
}

TEST(WindowsProcess, MissingProgramIsNotFound) {
    TempDir empty;
    pid_t pid = 0;
    EXPECT_EQ(platform::spawnProcess("NoSuchBrowser", {}, empty.path().string(), pid),
              platform::kProgramNotFound);
    EXPECT_EQ(platform::findProgram("NoSuchBrowser", empty.path().string()), "");
    EXPECT_EQ(platform::findProgram("..\\Brovia", empty.path().string()), "");
}

TEST(WindowsProcess, FindsTheProgramFirstInTheGivenFolder) {
    BrowserFolder browser;
    EXPECT_EQ(platform::findProgram("Brovia", browser.folder), browser.folder + "\\Brovia.exe");
    EXPECT_EQ(platform::findProgram("Brovia.exe", browser.folder), browser.folder + "\\Brovia.exe");
}

// taskkill /F /IM Brovia.exe ends every running page browser; the call
// returns at once with how many there were.
TEST(WindowsProcess, EndsEveryBrowserByImageName) {
    BrowserFolder browser;
    ProbeEnvironment env("PANOVIEW_PROBE_WAIT", "1");
    std::promise<void> firstEnded, secondEnded;
    pid_t first = 0, second = 0;
    ASSERT_EQ(platform::spawnProcess("Brovia", {}, browser.folder, first,
                                     [&](pid_t) { firstEnded.set_value(); }),
              0);
    ASSERT_EQ(platform::spawnProcess("Brovia", {}, browser.folder, second,
                                     [&](pid_t) { secondEnded.set_value(); }),
              0);
    EXPECT_TRUE(processRuns(first));
    EXPECT_EQ(platform::processFileName(first), "Brovia");

    EXPECT_EQ(platform::killProcessesByFileName("Brovia"), 2);
    EXPECT_EQ(firstEnded.get_future().wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
    EXPECT_EQ(secondEnded.get_future().wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
    EXPECT_FALSE(processRuns(first));
    EXPECT_EQ(platform::processFileName(first), "");
    // Nothing is put on a command line that is not a plain name.
    EXPECT_EQ(platform::killProcessesByFileName("a b & del x"), 0);
}
