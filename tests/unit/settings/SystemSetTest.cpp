// The settings dialog's rules through a window without Qt: validation and its
// order, the page addresses, which display a choice belongs to, what is
// saved, and what the dialog shows of the displays.
#include "settings/SystemSet.h"
#include "DebugCapture.h"
#include "Facilities.h"
#include "FakeSystemSetView.h"
#include "Language.h"
#include "TempDir.h"
#include "wall/Launcher.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace systemset;

namespace {

MonitorInfo monitor(const char* device, const std::string& description, Rect rect,
                    bool primary = false) {
    MonitorInfo info;
    std::strncpy(info.szDevice, device, sizeof info.szDevice - 1);
    info.description = description;
    info.rcMonitor = rect;
    info.rcWork = rect;
    info.dwFlags = primary ? MONITORINFOF_PRIMARY : 0;
    return info;
}

// A wall of three: the primary in the middle, and two others whose list order
// ("[WALL0] ..." before "[WALL2] ...") is not their discovery order.
SystemConfig wallConfig() {
    SystemConfig config;
    config.userId = "operator";
    config.factoryId = "F001";
    config.serviceAddress = "http://svc:8080";
    config.siteAddress = "http://site";
    config.displays = {{1, "http://old/%s", 0}};
    config.primaryMonitor = monitor("WALL1", "DELL U2720Q", {1280, 0, 2560, 1080}, true);
    config.extendedMonitors = {monitor("WALL2", "LG 27UL850", {2560, 0, 3840, 1080}),
                               monitor("WALL0", "WALL0", {0, 0, 1280, 1080})};
    return config;
}

constexpr const char* kOldFile = "{\"userid\":\"old\"}";

// The dialog opened on a record, saving for real into a folder of its own
// that holds an old Panoview.config.
struct Opened {
    explicit Opened(SystemConfig record, SystemSetServices services = {}) : config(record) {
        dir.write("Panoview.config", kOldFile);
        if (!services.displayDevice)
            services.displayDevice = displayDevicesOf(config);
        services.saveConfig = saveConfigFile;
        services.configPath = dir.file("Panoview.config");
        view.emplace(config, std::move(services));
        dialog = &view->dialog();
        dialog->OnInitDialog();
    }
    std::string savedText() const { return dir.read("Panoview.config"); }

    TempDir dir;
    DebugCapture debug;
    SystemConfig config;
    std::optional<FakeSystemSetView> view;
    CSystemSet* dialog = nullptr;
};

using Act = std::function<void(FakeSystemSetView&)>;

// The common path: a machine type, a display, a page.
Act configure(const std::string& machineType, int display, int page) {
    return [=](FakeSystemSetView& v) {
        v.type(IDC_MACHINE_TYPE, machineType);
        v.click(display);
        v.click(page);
    };
}

Act then(Act first, Act second) {
    return [=](FakeSystemSetView& v) {
        first(v);
        second(v);
    };
}

Act typing(int id, const std::string& text) {
    return [=](FakeSystemSetView& v) { v.type(id, text); };
}

const std::string kPrefix = "http://site/KnitUI/";
const std::string kSaved = "保存成功，重启后生效。";
const std::string kSavedEnglish = "Save successfully. It will take effect after restart.";

struct Case {
    const char* name;
    int english;
    Act act;
    std::vector<std::string> messages;
    // The saved entries; nullopt when the old file must stay as it was.
    std::optional<std::vector<ConfigDisplayEntry>> entries;
    std::string userId = "operator";
    std::string siteAddress = "http://site";
    std::function<void(SystemConfig&)> prepare = nullptr;
    bool saveFails = false;
};

std::vector<Case> cases() {
    const Act knitPrimary7 = configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW);
    const Act emptyAll = then(typing(IDC_SERVICE_ADDRESS, ""), typing(IDC_SITE_ADDRESS, ""));
    const std::string overview = "W_Factory.html?token=%s&flag=multiscreen";
    // 2047 bytes exactly with a typed folder of n bytes: "http://site/" + n +
    // "/" + overview.
    const size_t folderFor2047 = 2047 - 12 - 1 - overview.size();
    std::vector<Case> list = {
        // Validation, in its order, in both languages.
        {"all empty: service address first", 0, emptyAll, {"服务地址不能为空！"}, std::nullopt},
        {"all empty, English", 1, emptyAll, {"Service address cannot be empty!"}, std::nullopt},
        {"site address next",
         0,
         typing(IDC_SITE_ADDRESS, ""),
         {"站点地址不能为空！"},
         std::nullopt},
        {"site address next, English",
         1,
         typing(IDC_SITE_ADDRESS, ""),
         {"Site address cannot be empty!"},
         std::nullopt},
        {"machine type before any display",
         0,
         [](FakeSystemSetView&) {},
         {"请选择机器类型！"},
         std::nullopt},
        {"machine type, English",
         1,
         [](FakeSystemSetView&) {},
         {"Please select machine type!"},
         std::nullopt},
        {"no page chosen, though the file held displays",
         0,
         typing(IDC_MACHINE_TYPE, "横机"),
         {"请先为显示器配置显示对象！"},
         std::nullopt},
        {"no page chosen, English",
         1,
         typing(IDC_MACHINE_TYPE, "MyUI"),
         {"Please configure the display object for the display first!"},
         std::nullopt},
        {"a page clicked before any display belongs to none",
         0,
         then(typing(IDC_MACHINE_TYPE, "横机"),
              [](FakeSystemSetView& v) { v.click(IDC_PAGE_FACTORY_OVERVIEW); }),
         {"请先为显示器配置显示对象！"},
         std::nullopt},

        // Page addresses.
        {"page 7 on the primary display, sock machines",
         0,
         configure("袜机", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, "http://site/HosieryUI/W_Factory.html?token=%s&flag=multiscreen"}}},
        {"page 3 with area names",
         0,
         then(configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_MACHINE_STATUS),
              typing(IDC_AREA_NAMES, "A|B")),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, kPrefix + "A_MachineMonitor.html?token=%s&flag=multiscreen&areaname=A|B"}}},
        {"page 5 parameters unchanged",
         0,
         then(configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_ORDER_PROGRESS),
              typing(IDC_ORDER_PROGRESS_PARAMETERS, "orderid=1&autoscroll=y")),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true,
              kPrefix + "D_OrderSchedule.html?token=%s&flag=multiscreen&orderid=1&autoscroll=y"}}},
        {"page 4 with an empty box ends in &",
         0,
         configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_KNITTING_RECORD),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, kPrefix + "A_MachineKnitting.html?token=%s&flag=multiscreen&"}}},
        {"page 6 typed before the page was chosen",
         0,
         then(then(typing(IDC_MACHINE_TYPE, "手套机"),
                   [](FakeSystemSetView& v) { v.click(IDC_PRIMARY_DISPLAY); }),
              then(typing(IDC_WORKSHOP_EFFICIENCY_PARAMETERS, "days=7"),
                   [](FakeSystemSetView& v) { v.click(IDC_PAGE_WORKSHOP_EFFICIENCY); })),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true,
              "http://site/GloveUI/D_MachineUtilization.html?token=%s&flag=multiscreen&days=7"}}},
        {"a 200-character parameter is kept whole",
         0,
         then(configure("刺绣机", IDC_PRIMARY_DISPLAY, IDC_PAGE_KNITTING_RECORD),
              typing(IDC_KNITTING_RECORD_PARAMETERS, std::string(200, 'p'))),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, "http://site/EmbrUI/A_MachineKnitting.html?token=%s&flag=multiscreen&" +
                        std::string(200, 'p')}}},

        // Machine types.
        {"English items name their folders",
         1,
         configure("Sock machine", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSavedEnglish},
         std::vector<ConfigDisplayEntry>{{true, "http://site/HosieryUI/" + overview}}},
        {"a Chinese item typed in English mode is a folder",
         1,
         configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSavedEnglish},
         std::vector<ConfigDisplayEntry>{{true, "http://site/横机/" + overview}}},
        {"an English item typed in Chinese mode is a folder",
         0,
         configure("Flat knitting machine", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, "http://site/Flat knitting machine/" + overview}}},
        {"a typed folder",
         0,
         configure("MyUI", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, "http://site/MyUI/" + overview}}},

        // Which display a choice belongs to.
        {"only the second extended item",
         0,
         then(typing(IDC_MACHINE_TYPE, "横机"),
              [](FakeSystemSetView& v) {
                  v.chooseExtended(1);
                  v.click(IDC_PAGE_FACTORY_OVERVIEW);
              }),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{false, kPrefix + overview}}},
        {"a drop-down closed without a choice keeps the display",
         0,
         then(typing(IDC_MACHINE_TYPE, "横机"),
              [](FakeSystemSetView& v) {
                  v.click(IDC_PRIMARY_DISPLAY);
                  v.openExtendedList();
                  v.click(IDC_PAGE_WORKSHOP_EFFICIENCY);
              }),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, kPrefix + "D_MachineUtilization.html?token=%s&flag=multiscreen&"}}},
        {"the extended radio without a chosen item is no display",
         0,
         then(typing(IDC_MACHINE_TYPE, "横机"),
              [](FakeSystemSetView& v) {
                  v.click(IDC_PRIMARY_DISPLAY);
                  v.click(IDC_EXTENDED_DISPLAY);
                  v.click(IDC_PAGE_FACTORY_OVERVIEW);
              }),
         {"请先为显示器配置显示对象！"},
         std::nullopt},
        {"every display, primary first, each with its own parameters",
         0,
         [](FakeSystemSetView& v) {
             v.type(IDC_MACHINE_TYPE, "横机");
             v.chooseExtended(1);
             v.click(IDC_PAGE_ORDER_PROGRESS);
             v.type(IDC_ORDER_PROGRESS_PARAMETERS, "orderid=2");
             v.click(IDC_PRIMARY_DISPLAY);
             v.click(IDC_PAGE_KNITTING_RECORD);
             v.type(IDC_KNITTING_RECORD_PARAMETERS, "pattern=P");
             v.chooseExtended(0);
             v.click(IDC_PAGE_MACHINE_STATUS);
             v.type(IDC_AREA_NAMES, "East");
             // Back to each display once more: showing a choice changes none.
             v.chooseExtended(1);
             v.click(IDC_PRIMARY_DISPLAY);
         },
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, kPrefix + "A_MachineKnitting.html?token=%s&flag=multiscreen&pattern=P"},
             {false, kPrefix + "A_MachineMonitor.html?token=%s&flag=multiscreen&areaname=East"},
             {false, kPrefix + "D_OrderSchedule.html?token=%s&flag=multiscreen&orderid=2"}}},
        {"a page changed for a display replaces its choice",
         0,
         then(configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_MACHINE_STATUS),
              [](FakeSystemSetView& v) {
                  v.type(IDC_AREA_NAMES, "A");
                  v.click(IDC_PAGE_FACTORY_OVERVIEW);
              }),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, kPrefix + overview}}},

        // What is saved besides the pages.
        {"a cleared account is saved empty, the factory as loaded",
         0,
         then(typing(IDC_ACCOUNT, ""), knitPrimary7),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, kPrefix + overview}},
         ""},
        {"a trailing slash stays",
         0,
         then(typing(IDC_SITE_ADDRESS, "http://site/ "), knitPrimary7),
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, "http://site/ /KnitUI/" + overview}},
         "operator",
         "http://site/ "},
        {"percent signs reach the file unchanged",
         0,
         then(then(typing(IDC_SITE_ADDRESS, "http://site/%d%%"),
                   configure("My%sUI", IDC_PRIMARY_DISPLAY, IDC_PAGE_ORDER_PROGRESS)),
              typing(IDC_ORDER_PROGRESS_PARAMETERS, "q=%25&r=%s")),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, "http://site/%d%%/My%sUI/D_OrderSchedule.html?token=%s&flag=multiscreen&q=%25&"
                    "r=%s"}},
         "operator",
         "http://site/%d%%"},
        {"an empty record opens with the default endpoints",
         0,
         knitPrimary7,
         {kSaved},
         std::vector<ConfigDisplayEntry>{{true, "http://127.0.0.1/KnitUI/" + overview}},
         "",
         "http://127.0.0.1",
         [](SystemConfig& c) {
             c.serviceAddress.clear();
             c.siteAddress.clear();
             c.userId.clear();
         }},

        // The length of a page address.
        {"a page address of 2047 bytes is saved",
         0,
         configure(std::string(folderFor2047, 'f'), IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW),
         {kSaved},
         std::vector<ConfigDisplayEntry>{
             {true, "http://site/" + std::string(folderFor2047, 'f') + "/" + overview}}},
        {"a page address of 2048 bytes is refused",
         0,
         configure(std::string(folderFor2047 + 1, 'f'), IDC_PRIMARY_DISPLAY,
                   IDC_PAGE_FACTORY_OVERVIEW),
         {"页面地址过长（最多2047字节）！"},
         std::nullopt},
        {"bytes are counted, not characters, English",
         1,
         then(configure("MyUI", IDC_PRIMARY_DISPLAY, IDC_PAGE_MACHINE_STATUS),
              then(typing(IDC_SITE_ADDRESS, "http://" + std::string(600 * 3, 'x')),
                   typing(IDC_AREA_NAMES,
                          [] {
                              std::string names;
                              for (int i = 0; i < 100; ++i)
                                  names += "区";
                              return names;
                          }()))),
         {"Page address too long (at most 2047 bytes)!"},
         std::nullopt},

        // A save that fails is told, the old file whole.
        {"a failed save is told",
         0,
         knitPrimary7,
         {},
         std::nullopt,
         "operator",
         "http://site",
         nullptr,
         true},
        {"a failed save is told, English",
         1,
         knitPrimary7,
         {},
         std::nullopt,
         "operator",
         "http://site",
         nullptr,
         true},
    };
    return list;
}

} // namespace

TEST(SystemSet, SaveRulesTable) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        ScopedLanguage language(c.english);
        SystemConfig record = wallConfig();
        if (c.prepare)
            c.prepare(record);
        Opened opened(record);
        FakeSystemSetView& view = *opened.view;
        c.act(view);
        std::vector<std::string> expected = c.messages;
        {
            std::optional<facilities::SaveBlocker> full;
            if (c.saveFails) {
                full.emplace(opened.dir.file("Panoview.config"));
                expected = {(c.english ? "Save failed, the configuration file cannot be written: "
                                       : "保存失败，配置文件无法写入：") +
                            opened.dir.file("Panoview.config")};
            }
            view.click(IDOK);
        }
        EXPECT_EQ(view.messages_, expected);
        EXPECT_EQ(view.captions_, std::vector<std::string>(expected.size(), "Panoview"));
        if (!c.entries) {
            EXPECT_EQ(opened.savedText(), kOldFile);
            EXPECT_FALSE(view.ended_) << "the dialog stays open";
            continue;
        }
        EXPECT_TRUE(view.ended_ && view.accepted_);
        SystemConfig saved;
        ASSERT_EQ(loadConfigFile(saved, opened.dir.file("Panoview.config")), ConfigLoad::Loaded);
        EXPECT_EQ(saved.userId, c.userId);
        EXPECT_EQ(saved.factoryId, "F001");
        EXPECT_EQ(saved.serviceAddress,
                  record.serviceAddress.empty() ? "http://127.0.0.1:8088" : record.serviceAddress);
        EXPECT_EQ(saved.siteAddress, c.siteAddress);
        ASSERT_EQ(saved.displays.size(), c.entries->size());
        for (size_t i = 0; i < c.entries->size(); ++i) {
            EXPECT_EQ(saved.displays[i].isPrimary, (*c.entries)[i].isPrimary ? 1 : 0) << i;
            EXPECT_EQ(saved.displays[i].urlTemplate, (*c.entries)[i].url) << i;
        }
        EXPECT_EQ(opened.config.displays.size(), 1u) << "the record itself is never changed";
    }
}

TEST(SystemSet, SavedFileIsTheFormattedDocument) {
    Opened opened(wallConfig());
    FakeSystemSetView& v = *opened.view;
    v.type(IDC_MACHINE_TYPE, "袜机");
    v.chooseExtended(0);
    v.click(IDC_PAGE_MACHINE_STATUS);
    v.type(IDC_AREA_NAMES, "一车间");
    v.click(IDOK);
    EXPECT_EQ(opened.savedText(),
              "{\n\t\"userid\":\t\"operator\",\n\t\"address\":\t\"http://svc:8080\",\n"
              "\t\"factoryid\":\t\"F001\",\n\t\"web\":\t\"http://site\",\n"
              "\t\"srurl\":\t[{\n\t\t\t\"pri\":\t\"false\",\n"
              "\t\t\t\"url\":\t\"http://site/HosieryUI/A_MachineMonitor.html?token=%s&flag="
              "multiscreen&areaname=一车间\"\n\t\t}]\n}");
}

TEST(SystemSet, CancelEndsTheDialogWritingNothing) {
    Opened opened(wallConfig());
    configure("横机", IDC_PRIMARY_DISPLAY, IDC_PAGE_FACTORY_OVERVIEW)(*opened.view);
    opened.view->click(IDCANCEL);
    EXPECT_TRUE(opened.view->ended_);
    EXPECT_FALSE(opened.view->accepted_);
    EXPECT_EQ(opened.savedText(), kOldFile);
    EXPECT_TRUE(opened.view->messages_.empty());
}

TEST(SystemSet, SwitchingDisplaysShowsEachOnesChoice) {
    Opened opened(wallConfig());
    FakeSystemSetView& v = *opened.view;
    v.click(IDC_PRIMARY_DISPLAY);
    v.click(IDC_PAGE_KNITTING_RECORD);
    v.type(IDC_KNITTING_RECORD_PARAMETERS, "pattern=P");
    v.chooseExtended(0);
    EXPECT_TRUE(v.isChecked(IDC_EXTENDED_DISPLAY));
    EXPECT_FALSE(v.isChecked(IDC_PRIMARY_DISPLAY));
    EXPECT_EQ(opened.dialog->currentDisplayKey(), 1);
    for (int radio : {1007, 1009, 1010, 1011, 1014})
        EXPECT_FALSE(v.isChecked(radio)) << radio;
    for (int box : {1008, 1015, 1016, 1017}) {
        EXPECT_TRUE(v.disabled_.count(box)) << box;
        EXPECT_EQ(v.text(box), "") << box;
    }
    v.click(IDC_PAGE_ORDER_PROGRESS);
    v.type(IDC_ORDER_PROGRESS_PARAMETERS, "orderid=9");
    v.click(IDC_PRIMARY_DISPLAY);
    EXPECT_EQ(opened.dialog->currentDisplayKey(), 0);
    EXPECT_TRUE(v.isChecked(IDC_PAGE_KNITTING_RECORD));
    EXPECT_FALSE(v.disabled_.count(IDC_KNITTING_RECORD_PARAMETERS));
    EXPECT_EQ(v.text(IDC_KNITTING_RECORD_PARAMETERS), "pattern=P");
    EXPECT_EQ(v.text(IDC_ORDER_PROGRESS_PARAMETERS), "");
    EXPECT_TRUE(v.disabled_.count(IDC_ORDER_PROGRESS_PARAMETERS));
    const auto& choices = opened.dialog->pageChoices();
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices.at(0).page, 4);
    EXPECT_EQ(choices.at(0).parameters, "pattern=P");
    EXPECT_EQ(choices.at(1).page, 5);
    EXPECT_EQ(choices.at(1).parameters, "orderid=9");
}

TEST(SystemSet, OpensWithTheDisplaysTheLimitsAndTheHelp) {
    for (int english : {0, 1}) {
        ScopedLanguage language(english);
        Opened opened(wallConfig());
        FakeSystemSetView& v = *opened.view;
        EXPECT_EQ(v.text(IDC_PRIMARY_NAME), "[WALL1] DELL U2720Q");
        EXPECT_EQ(v.items_[IDC_EXTENDED_LIST],
                  (std::vector<std::string>{"[WALL0] WALL0", "[WALL2] LG 27UL850"}));
        EXPECT_EQ(opened.debug.all(), "pri.WALL1,DELL U2720Q,DELL U2720Q\n"
                                      "vem.WALL2,LG 27UL850,LG 27UL850\n"
                                      "vem.WALL0,WALL0,WALL0\n");
        EXPECT_EQ(v.centredOn_, (Rect{1280, 0, 2560, 1080}));
        EXPECT_EQ(v.text(IDC_SERVICE_ADDRESS), "http://svc:8080");
        EXPECT_EQ(v.text(IDC_ACCOUNT), "operator");
        EXPECT_EQ(v.text(IDC_SITE_ADDRESS), "http://site");
        EXPECT_EQ(v.text(IDC_MACHINE_TYPE), "");
        EXPECT_TRUE(v.checked_.empty());
        EXPECT_EQ(opened.dialog->currentDisplayKey(), -1);
        EXPECT_EQ(v.limits_, (std::map<int, int>{{1001, 1000},
                                                 {1004, 1000},
                                                 {1008, 200},
                                                 {1013, 20},
                                                 {1015, 200},
                                                 {1016, 200},
                                                 {1017, 200}}));
        EXPECT_EQ(v.toolTipDelay_, 200);
        if (english) {
            EXPECT_EQ(v.items_[IDC_MACHINE_TYPE],
                      (std::vector<std::string>{"Embroidery machine", "Flat knitting machine",
                                                "Glove machine", "Sock machine"}));
            EXPECT_EQ(v.toolTips_[1008], "The name of the area associated with the monitoring "
                                         "interface, format:\"Area1|Area2\"");
            EXPECT_EQ(v.toolTips_[1016], "<Order schedule monitor>Additional "
                                         "parameters,format:\"orderid=XX&autoscroll=y/n\"");
        } else {
            EXPECT_EQ(v.items_[IDC_MACHINE_TYPE].size(), 4u);
            EXPECT_EQ(v.toolTips_[1015],
                      "<实时编织记录>附带参数，格式：“areaname=XX&orderid=XX&pattern=XX&"
                      "autoscroll=y/n”，areaname：区域名称，orderid：订单号，pattern：花样名称，"
                      "autoscroll：自动滚动");
            EXPECT_EQ(v.toolTips_[1017],
                      "<车间效率分析>附带参数，格式：“areaname=XX&days=X&autoscroll=y/n”，"
                      "areaname：区域名称，days：天数，autoscroll：自动滚动");
        }
    }
}

TEST(SystemSet, DisplaysTheDevicesDoNotAnswerForAreLeftOut) {
    // No primary display was discovered: device 0 does not exist and box
    // 1006 stays empty; the adapter query for the second extended display
    // fails, so it is not listed, and the third is still device 3.
    SystemConfig record = wallConfig();
    record.primaryMonitor = MonitorInfo{};
    record.extendedMonitors.push_back(monitor("WALL3", "EIZO EV2785", {3840, 0, 5120, 1080}));
    platform::DisplayDevices devices(record.primaryMonitor, record.extendedMonitors);
    std::vector<uint32_t> asked;
    SystemSetServices services;
    services.displayDevice = [&](const char* name, uint32_t index, platform::DisplayDevice& d) {
        if (!name)
            asked.push_back(index);
        return !(name == nullptr && index == 2) && devices.query(name, index, d);
    };
    Opened opened(record, services);
    EXPECT_EQ(opened.view->text(IDC_PRIMARY_NAME), "");
    EXPECT_EQ(asked, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(opened.view->items_[IDC_EXTENDED_LIST],
              (std::vector<std::string>{"[WALL2] LG 27UL850", "[WALL3] EIZO EV2785"}));
    EXPECT_EQ(opened.debug.all(), "vem.WALL2,LG 27UL850,LG 27UL850\n"
                                  "vem.WALL3,EIZO EV2785,EIZO EV2785\n");
    EXPECT_EQ(opened.view->centredOn_, Rect{}) << "no primary display: the desktop";
}

TEST(SystemSet, DisplayDevicesOfTheDiscoveredDisplays) {
    SystemConfig record = wallConfig();
    platform::DisplayDevices devices(record.primaryMonitor, record.extendedMonitors);
    platform::DisplayDevice d;
    ASSERT_TRUE(devices.query(nullptr, 0, d));
    EXPECT_EQ(d.name, "WALL1");
    ASSERT_TRUE(devices.query(nullptr, 2, d));
    EXPECT_EQ(d.name, "WALL0");
    EXPECT_FALSE(devices.query(nullptr, 3, d)) << "past the last display";
    ASSERT_TRUE(devices.query("WALL2", 0, d));
    EXPECT_EQ(d.name, "LG 27UL850");
    EXPECT_EQ(d.description, "LG 27UL850");
    EXPECT_FALSE(devices.query("WALL2", 1, d)) << "one monitor per device";
    EXPECT_FALSE(devices.query("WALL9", 0, d));
    platform::DisplayDevices none(MonitorInfo{}, {});
    EXPECT_FALSE(none.query(nullptr, 0, d)) << "no primary display";
    EXPECT_FALSE(none.query("", 0, d));
}

TEST(SystemSet, SecondExtendedItemsPageIsLaunchedOnTheFirstExtendedDisplay) {
    // The wall of the virtual X server: WALL0 and WALL2 beside the primary
    // WALL1, listed in that order. The page is chosen for the second item,
    // [WALL2]; the saved entry carries no display name, so the next start
    // gives it to the first extended display, WALL0.
    SystemConfig record = wallConfig();
    std::swap(record.extendedMonitors[0], record.extendedMonitors[1]);
    Opened opened(record);
    FakeSystemSetView& v = *opened.view;
    v.type(IDC_MACHINE_TYPE, "袜机");
    v.chooseExtended(1);
    ASSERT_EQ(v.items_[IDC_EXTENDED_LIST][1], "[WALL2] LG 27UL850");
    v.click(IDC_PAGE_FACTORY_OVERVIEW);
    v.click(IDOK);

    SystemConfig next;
    ASSERT_EQ(loadConfigFile(next, opened.dir.file("Panoview.config")), ConfigLoad::Loaded);
    next.primaryMonitor = record.primaryMonitor;
    next.extendedMonitors = record.extendedMonitors;
    next.token = "T0K";
    std::vector<std::pair<Rect, std::string>> started;
    runLaunch(takeLaunchJob(next), [&](const Rect& work, const std::string& page, uint32_t& pid) {
        started.emplace_back(work, page);
        pid = 1;
        return true;
    });
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, (Rect{0, 0, 1280, 1080})) << "WALL0's work area";
    EXPECT_EQ(started[0].second, "http://site/HosieryUI/W_Factory.html?token=T0K&flag=multiscreen");
}
