#include "settings/ConfigFile.h"
#include "DebugCapture.h"
#include "Facilities.h"
#include "TempDir.h"

#include <cjson/cJSON.h>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct Loaded {
    ConfigLoad result;
    SystemConfig config;
};

Loaded loadText(const std::string& text) {
    TempDir dir;
    dir.write("Panoview.config", text);
    Loaded loaded;
    loaded.result = loadConfigFile(loaded.config, dir.file("Panoview.config"));
    return loaded;
}

} // namespace

TEST(ConfigLoad, MissingEmptyAndNonJsonFiles) {
    TempDir dir;
    SystemConfig config;
    DebugCapture capture;
    EXPECT_EQ(loadConfigFile(config, dir.file("Panoview.config")), ConfigLoad::Missing);
    EXPECT_EQ(loadText("").result, ConfigLoad::Empty);
    EXPECT_TRUE(capture.writes().empty()) << "a missing or empty file is not reported";

    EXPECT_EQ(loadText("not json").result, ConfigLoad::NotJson);
    EXPECT_EQ(loadText("{\"userid\":").result, ConfigLoad::NotJson);
    EXPECT_EQ(loadText("   ").result, ConfigLoad::NotJson);
}

TEST(ConfigLoad, ReadsEveryFieldAndWritesTheTextToTheDiagnostics) {
    const std::string text = R"({"userid":"op1","address":"http://svc:8080","factoryid":"F7",
        "web":"http://site","srurl":[{"pri":"true","url":"http://site/KnitUI/A.html?token=%s"},
        {"pri":"false","url":"u2"}]})";
    DebugCapture capture;
    Loaded l = loadText(text);
    ASSERT_EQ(l.result, ConfigLoad::Loaded);
    EXPECT_EQ(l.config.userId, "op1");
    EXPECT_EQ(l.config.serviceAddress, "http://svc:8080");
    EXPECT_EQ(l.config.factoryId, "F7");
    EXPECT_EQ(l.config.siteAddress, "http://site");
    ASSERT_EQ(l.config.displays.size(), 2u);
    EXPECT_EQ(l.config.displays[0].isPrimary, 1);
    EXPECT_EQ(l.config.displays[0].urlTemplate, "http://site/KnitUI/A.html?token=%s");
    EXPECT_EQ(l.config.displays[1].isPrimary, 0);
    EXPECT_EQ(l.config.displays[1].processId, 0u);
    EXPECT_EQ(capture.all(), text);
}

TEST(ConfigLoad, KeyLookupIgnoresCaseTakesFirstMatchAndOnlyStrings) {
    Loaded l = loadText(R"({"UserID":"first","userid":"second","ADDRESS":"a",
        "factoryid":7,"web":null})");
    ASSERT_EQ(l.result, ConfigLoad::Loaded);
    EXPECT_EQ(l.config.userId, "first");
    EXPECT_EQ(l.config.serviceAddress, "a");
    EXPECT_EQ(l.config.factoryId, "") << "a number is not taken";
    EXPECT_EQ(l.config.siteAddress, "");

    l = loadText(R"({"userid":true,"address":["x"],"factoryid":{"a":"b"}})");
    EXPECT_EQ(l.config.userId, "");
    EXPECT_EQ(l.config.serviceAddress, "");
    EXPECT_EQ(l.config.factoryId, "");
}

TEST(ConfigLoad, PrimaryOnlyForTheExactString) {
    Loaded l = loadText(R"({"srurl":[{"pri":"true"},{"pri":true},{"pri":"TRUE"},
        {"pri":"true "},{"url":"x"},{"PRI":"true"}]})");
    ASSERT_EQ(l.config.displays.size(), 6u);
    std::vector<int> flags;
    for (const auto& d : l.config.displays)
        flags.push_back(d.isPrimary);
    EXPECT_EQ(flags, (std::vector<int>{1, 0, 0, 0, 0, 1}));
}

TEST(ConfigLoad, OverlongOrMissingUrlStillCountsTheEntry) {
    const std::string fits(2047, 'u');
    const std::string tooLong(2048, 'u');
    Loaded l = loadText("{\"srurl\":[{\"url\":\"" + fits + "\"},{\"url\":\"" + tooLong +
                        "\"},{\"url\":5},{},\"plain\",{\"url\":\"last\"}]}");
    ASSERT_EQ(l.config.displays.size(), 6u);
    EXPECT_EQ(l.config.displays[0].urlTemplate, fits);
    EXPECT_EQ(l.config.displays[1].urlTemplate, "") << "too long: left out, not cut";
    EXPECT_EQ(l.config.displays[2].urlTemplate, "");
    EXPECT_EQ(l.config.displays[3].urlTemplate, "");
    EXPECT_EQ(l.config.displays[4].urlTemplate, "");
    EXPECT_EQ(l.config.displays[5].urlTemplate, "last");
}

TEST(ConfigLoad, OtherShapesLoadAsEmpty) {
    for (const char* text : {"{}", "[{\"userid\":\"x\"}]", "\"userid\"", "42"}) {
        Loaded l = loadText(text);
        EXPECT_EQ(l.result, ConfigLoad::Loaded) << text;
        EXPECT_EQ(l.config.userId, "") << text;
        EXPECT_TRUE(l.config.displays.empty()) << text;
    }
    Loaded l = loadText(R"({"userid":"kept"} trailing {garbage)");
    EXPECT_EQ(l.result, ConfigLoad::Loaded);
    EXPECT_EQ(l.config.userId, "kept");
}

TEST(ConfigLoad, BytesPassThroughUnchanged) {
    Loaded l = loadText("{\"userid\":\"\xE6\x93\x8D\xE4\xBD\x9C\xE5\x91\x98\"}");
    EXPECT_EQ(l.config.userId, "\xE6\x93\x8D\xE4\xBD\x9C\xE5\x91\x98");
}

TEST(ConfigSave, TextIsCJsonPrintOfTheKeysInOrder) {
    std::string text =
        configFileText("op", "http://svc", "F1", "http://web", {{true, "a%s"}, {false, "b%s"}});
    EXPECT_EQ(text, "{\n\t\"userid\":\t\"op\",\n\t\"address\":\t\"http://svc\",\n"
                    "\t\"factoryid\":\t\"F1\",\n\t\"web\":\t\"http://web\",\n"
                    "\t\"srurl\":\t[{\n\t\t\t\"pri\":\t\"true\",\n\t\t\t\"url\":\t\"a%s\"\n"
                    "\t\t}, {\n\t\t\t\"pri\":\t\"false\",\n\t\t\t\"url\":\t\"b%s\"\n\t\t}]\n}");

    // The same document built directly with cJSON prints the same bytes.
    cJSON* root = cJSON_CreateObject();
    cJSON_AddItemToObject(root, "userid", cJSON_CreateString("op"));
    cJSON_AddItemToObject(root, "address", cJSON_CreateString("http://svc"));
    cJSON_AddItemToObject(root, "factoryid", cJSON_CreateString("F1"));
    cJSON_AddItemToObject(root, "web", cJSON_CreateString("http://web"));
    cJSON* list = cJSON_CreateArray();
    for (auto [pri, url] : {std::pair{"true", "a%s"}, std::pair{"false", "b%s"}}) {
        cJSON* e = cJSON_CreateObject();
        cJSON_AddItemToObject(e, "pri", cJSON_CreateString(pri));
        cJSON_AddItemToObject(e, "url", cJSON_CreateString(url));
        cJSON_AddItemToArray(list, e);
    }
    cJSON_AddItemToObject(root, "srurl", list);
    char* printed = cJSON_Print(root);
    EXPECT_EQ(text, printed);
    cJSON_free(printed);
    cJSON_Delete(root);
}

TEST(ConfigSave, RoundTripKeepsValuesAndOrder) {
    TempDir dir;
    SystemConfig loadedBefore;
    loadedBefore.factoryId = "F\"9\\";
    std::vector<ConfigDisplayEntry> entries{
        {true, "http://web/KnitUI/W_Factory.html?token=%s&flag=multiscreen"},
        {false, "http://web/EmbrUI/D_OrderSchedule.html?token=%s&x=\xE4\xB8\xAD"},
        {false, ""}};
    const std::string path = dir.file("Panoview.config");
    DebugCapture capture;
    ASSERT_TRUE(saveConfigFile(path, loadedBefore, "op\t1", "http://svc/", "http://web", entries));

    SystemConfig config;
    ASSERT_EQ(loadConfigFile(config, path), ConfigLoad::Loaded);
    EXPECT_EQ(config.userId, "op\t1");
    EXPECT_EQ(config.serviceAddress, "http://svc/");
    EXPECT_EQ(config.factoryId, "F\"9\\");
    EXPECT_EQ(config.siteAddress, "http://web");
    ASSERT_EQ(config.displays.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(config.displays[i].isPrimary, entries[i].isPrimary ? 1 : 0);
        EXPECT_EQ(config.displays[i].urlTemplate, entries[i].url);
    }
    EXPECT_EQ(dir.read("Panoview.config"),
              configFileText("op\t1", "http://svc/", "F\"9\\", "http://web", entries));
    // Nothing but the file itself is left in the folder.
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(ConfigLoad, FilesThatAreNoConfigurationStartUnconfigured) {
    // Each would hold the start up (a FIFO without a writer blocks an
    // ordinary open for ever, a device such as /dev/zero never ends) or
    // exhaust memory; the guard ends the test program if the loader blocks
    // after all. FIFOs and links are there only where the platform has them.
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "folder");
    {
        std::ofstream big(dir.file("big"), std::ios::binary);
        big << "{\"userid\":\"big\"}";
    }
    std::filesystem::resize_file(dir.file("big"), 64 * 1024 * 1024 + 1);
    std::vector<std::pair<std::string, std::string>> cases = {
        {facilities::deviceFile(), "is not a regular file"},
        {dir.file("folder"), "is not a regular file"},
        {dir.file("big"), "is larger than 67108864 bytes"},
    };
    if (facilities::makeFifo(dir.file("fifo")))
        cases.push_back({dir.file("fifo"), "is not a regular file"});
    if (facilities::makeSymlink(facilities::deviceFile(), dir.file("Panoview.config")))
        cases.push_back({dir.file("Panoview.config"), "is not a regular file"});
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        SystemConfig config;
        DebugCapture capture;
        facilities::HangGuard guard(60);
        EXPECT_EQ(loadConfigFile(config, path), ConfigLoad::Missing);
        EXPECT_EQ(config.userId, "");
        EXPECT_TRUE(config.displays.empty());
        EXPECT_EQ(capture.writes(), std::vector<std::string>{"loadConfigFile: " + path + " " +
                                                             reason + ", not read\n"});
    }
}

TEST(ConfigLoad, SixtyFourMebibytesAreStillRead) {
    TempDir dir;
    dir.write("Panoview.config", "{\"userid\":\"at the limit\"}");
    std::filesystem::resize_file(dir.file("Panoview.config"), 64 * 1024 * 1024);
    SystemConfig config;
    DebugCapture capture;
    EXPECT_EQ(loadConfigFile(config, dir.file("Panoview.config")), ConfigLoad::Loaded);
    EXPECT_EQ(config.userId, "at the limit");
}

TEST(ConfigLoad, LongListKeepsEveryEntryInOrder) {
    // 200 000 entries, the last of them primary.
    constexpr size_t kEntries = 200000;
    std::string text = "{\"srurl\":[";
    for (size_t i = 0; i < kEntries; ++i) {
        text += i ? "," : "";
        text += "{\"pri\":\"" + std::string(i + 1 == kEntries ? "true" : "false") +
                "\",\"url\":\"http://site/p" + std::to_string(i) + "?token=%s\"}";
    }
    text += "]}";
    DebugCapture capture;
    Loaded l = loadText(text);
    ASSERT_EQ(l.result, ConfigLoad::Loaded);
    ASSERT_EQ(l.config.displays.size(), kEntries);
    for (size_t i : {size_t(0), size_t(1), kEntries / 2, kEntries - 1}) {
        EXPECT_EQ(l.config.displays[i].urlTemplate,
                  "http://site/p" + std::to_string(i) + "?token=%s");
        EXPECT_EQ(l.config.displays[i].isPrimary, i + 1 == kEntries ? 1 : 0);
    }
}
