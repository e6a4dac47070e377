#include "settings/SystemSet.h"

#include "common/DebugPrint.h"
#include "common/Texts.h"

#include <algorithm>
#include <iterator>
#include <memory>

using namespace systemset;

namespace {

// Opened with an empty address, the dialog offers the stand-in service on
// this machine and its site.
constexpr const char* kDefaultServiceAddress = "http://127.0.0.1:8088";
constexpr const char* kDefaultSiteAddress = "http://127.0.0.1";

namespace say {
constexpr TextPair kServiceAddressEmpty{"服务地址不能为空！", "Service address cannot be empty!"};
constexpr TextPair kSiteAddressEmpty{"站点地址不能为空！", "Site address cannot be empty!"};
constexpr TextPair kNoMachineType{"请选择机器类型！", "Please select machine type!"};
constexpr TextPair kNoDisplayConfigured{
    "请先为显示器配置显示对象！", "Please configure the display object for the display first!"};
constexpr TextPair kPageAddressTooLong{"页面地址过长（最多2047字节）！",
                                       "Page address too long (at most 2047 bytes)!"};
// "%s" stands for the path of the file.
constexpr TextPair kSaveFailed{"保存失败，配置文件无法写入：%s",
                               "Save failed, the configuration file cannot be written: %s"};
constexpr TextPair kSaved{"保存成功，重启后生效。",
                          "Save successfully. It will take effect after restart."};
} // namespace say

struct MachineType {
    TextPair item;
    const char* folder; // the site folder of the machine's pages
};

// In the order they are added to the box and matched against its text.
constexpr MachineType kMachineTypes[] = {
    {{"横机", "Flat knitting machine"}, "KnitUI"},
    {{"袜机", "Sock machine"}, "HosieryUI"},
    {{"刺绣机", "Embroidery machine"}, "EmbrUI"},
    {{"手套机", "Glove machine"}, "GloveUI"},
};

struct Page {
    int code;
    int radio;
    const char* name;   // the page's file name on the site, without ".html"
    int box;            // the parameter box; 0 for none
    const char* suffix; // put before the parameters
    TextPair toolTip;   // the parameter box's help
};

// The monitoring pages, in the order their radios are tested.
constexpr Page kPages[] = {
    {3,
     IDC_PAGE_MACHINE_STATUS,
     "A_MachineMonitor",
     IDC_AREA_NAMES,
     "&areaname=",
     {"监控界面关联的区域名，格式：“区域一|区域二”",
      "The name of the area associated with the monitoring interface, "
      "format:\"Area1|Area2\""}},
    {4,
     IDC_PAGE_KNITTING_RECORD,
     "A_MachineKnitting",
     IDC_KNITTING_RECORD_PARAMETERS,
     "&",
     {"<实时编织记录>附带参数，格式：“areaname=XX&&orderid=XX&&pattern=XX&&autoscroll=y/"
      "n”，areaname：区域名称，orderid：订单号，pattern：花样名称，autoscroll：自动滚动",
      "<Real Knit record>Additional "
      "parameters,format:\"areaname=XX&&orderid=XX&&pattern=XX&&autoscroll=y/n\""}},
    {5,
     IDC_PAGE_ORDER_PROGRESS,
     "D_OrderSchedule",
     IDC_ORDER_PROGRESS_PARAMETERS,
     "&",
     {"<订单进度监控>附带参数，格式：“orderid=XX&&autoscroll=y/n”，orderid：订单号，autoscroll："
      "自动滚动",
      "<Order schedule monitor>Additional parameters,format:\"orderid=XX&&autoscroll=y/n\""}},
    {6,
     IDC_PAGE_WORKSHOP_EFFICIENCY,
     "D_MachineUtilization",
     IDC_WORKSHOP_EFFICIENCY_PARAMETERS,
     "&",
     {"<车间效率分析>附带参数，格式：“areaname=XX&&days=X&&autoscroll=y/n”，areaname：区域名称，"
      "days：天数，autoscroll：自动滚动",
      "<Machine efficiency analysis>Additional "
      "parameters,format:\"areaname=XX&&days=X&&autoscroll=y/n\""}},
    {7, IDC_PAGE_FACTORY_OVERVIEW, "W_Factory", 0, "", {"", ""}},
};

const Page* pageOf(int code) {
    for (const Page& page : kPages)
        if (page.code == code)
            return &page;
    return nullptr;
}

// The tooltip control shows each "&&" as one "&".
std::string shownToolTip(const char* text) {
    std::string shown;
    for (const char* c = text; *c; ++c) {
        shown += *c;
        if (c[0] == '&' && c[1] == '&')
            ++c;
    }
    return shown;
}

std::string withPath(const char* text, const std::string& path) {
    std::string message = text;
    const size_t at = message.find("%s");
    if (at != std::string::npos)
        message.replace(at, 2, path);
    return message;
}

// "[device] description", as boxes 1006 and 1005 show a display.
std::string displayItem(const char* device, const std::string& description) {
    return "[" + std::string(device) + "] " + description;
}

} // namespace

std::function<bool(const char* deviceName, uint32_t index, platform::DisplayDevice& device)>
displayDevicesOf(const SystemConfig& config) {
    auto devices =
        std::make_shared<platform::DisplayDevices>(config.primaryMonitor, config.extendedMonitors);
    return [devices](const char* name, uint32_t index, platform::DisplayDevice& device) {
        return devices->query(name, index, device);
    };
}

CSystemSet::CSystemSet(ISystemSetView& view, const SystemConfig& config, SystemSetServices services)
    : view_(view), config_(config), services_(std::move(services)) {
    serviceAddressText_ =
        config.serviceAddress.empty() ? kDefaultServiceAddress : config.serviceAddress;
    accountText_ = config.userId;
    siteAddressText_ = config.siteAddress.empty() ? kDefaultSiteAddress : config.siteAddress;
}

void CSystemSet::OnCommand(int id, Notice notice) {
    switch (notice) {
    case Notice::Clicked:
        if (id == IDOK)
            OnSave();
        else if (id == IDCANCEL)
            view_.endDialog(false);
        else if (id == IDC_PRIMARY_DISPLAY || id == IDC_EXTENDED_DISPLAY)
            OnDisplayKind();
        else if (std::any_of(std::begin(kPages), std::end(kPages),
                             [id](const Page& page) { return page.radio == id; }))
            OnPageKind();
        break;
    case Notice::DropDown:
        if (id == IDC_EXTENDED_LIST)
            OnExtendedDropDown();
        break;
    case Notice::SelChange:
        if (id == IDC_EXTENDED_LIST)
            OnExtendedSelChange();
        break;
    case Notice::Change:
        if (std::any_of(std::begin(kPages), std::end(kPages),
                        [id](const Page& page) { return page.box && page.box == id; }))
            OnParameterChange();
        break;
    }
}

void CSystemSet::readBoxes() {
    serviceAddressText_ = view_.text(IDC_SERVICE_ADDRESS);
    areaNamesText_ = view_.text(IDC_AREA_NAMES);
    accountText_ = view_.text(IDC_ACCOUNT);
    siteAddressText_ = view_.text(IDC_SITE_ADDRESS);
    parameterTexts_[0] = view_.text(IDC_KNITTING_RECORD_PARAMETERS);
    parameterTexts_[1] = view_.text(IDC_ORDER_PROGRESS_PARAMETERS);
    parameterTexts_[2] = view_.text(IDC_WORKSHOP_EFFICIENCY_PARAMETERS);
}

void CSystemSet::loadBoxes() {
    // Loading a parameter box notifies its change while the other boxes
    // still hold their old texts; reading them back then would mix the two.
    loading_ = true;
    view_.setText(IDC_SERVICE_ADDRESS, serviceAddressText_);
    view_.setText(IDC_AREA_NAMES, areaNamesText_);
    view_.setText(IDC_ACCOUNT, accountText_);
    view_.setText(IDC_SITE_ADDRESS, siteAddressText_);
    view_.setText(IDC_KNITTING_RECORD_PARAMETERS, parameterTexts_[0]);
    view_.setText(IDC_ORDER_PROGRESS_PARAMETERS, parameterTexts_[1]);
    view_.setText(IDC_WORKSHOP_EFFICIENCY_PARAMETERS, parameterTexts_[2]);
    loading_ = false;
}

void CSystemSet::OnInitDialog() {
    view_.limitText(IDC_SERVICE_ADDRESS, kAddressLimit);
    view_.limitText(IDC_AREA_NAMES, kParameterLimit);
    view_.limitText(IDC_ACCOUNT, kAccountLimit);
    view_.limitText(IDC_SITE_ADDRESS, kAddressLimit);
    view_.limitText(IDC_KNITTING_RECORD_PARAMETERS, kParameterLimit);
    view_.limitText(IDC_ORDER_PROGRESS_PARAMETERS, kParameterLimit);
    view_.limitText(IDC_WORKSHOP_EFFICIENCY_PARAMETERS, kParameterLimit);
    loadBoxes();

    // An empty rectangle (no primary display found) centres on the desktop.
    view_.centreOn(config_.primaryMonitor.rcMonitor);

    for (const MachineType& type : kMachineTypes)
        view_.addItem(IDC_MACHINE_TYPE, pick(type.item));

    for (const Page& page : kPages)
        if (page.box)
            view_.setToolTip(page.box, shownToolTip(pick(page.toolTip)), kToolTipDelayMs);

    platform::DisplayDevice device;
    const MonitorInfo& primary = config_.primaryMonitor;
    if (primary.szDevice[0] && services_.displayDevice(nullptr, 0, device)) {
        // The description is the attached monitor's, or the device's own when
        // no monitor is attached.
        services_.displayDevice(primary.szDevice, 0, device);
        DebugPrint("pri.%s,%s,%s\n", primary.szDevice, device.name.c_str(),
                   device.description.c_str());
        view_.setText(IDC_PRIMARY_NAME, displayItem(primary.szDevice, device.description));
    }

    uint32_t adapter = 1;
    for (const MonitorInfo& monitor : config_.extendedMonitors) {
        if (!services_.displayDevice(nullptr, adapter++, device))
            continue;
        services_.displayDevice(monitor.szDevice, 0, device);
        DebugPrint("vem.%s,%s,%s\n", monitor.szDevice, device.name.c_str(),
                   device.description.c_str());
        view_.addItem(IDC_EXTENDED_LIST, displayItem(monitor.szDevice, device.description));
    }
}

void CSystemSet::showPageChoice() {
    for (const Page& page : kPages) {
        view_.setChecked(page.radio, false);
        if (page.box)
            view_.enable(page.box, false);
    }
    areaNamesText_.clear();
    for (std::string& text : parameterTexts_)
        text.clear();

    auto choice = pageChoices_.find(currentDisplayKey_);
    if (currentDisplayKey_ != -1 && choice != pageChoices_.end()) {
        const int code = choice->second.page;
        if (const Page* page = pageOf(code)) {
            view_.setChecked(page->radio, true);
            if (page->box)
                view_.enable(page->box, true);
        }
        if (code == 3)
            areaNamesText_ = choice->second.parameters;
        else if (code >= 4 && code <= 6)
            parameterTexts_[code - 4] = choice->second.parameters;
    }
    loadBoxes();
}

void CSystemSet::OnDisplayKind() {
    readBoxes();
    if (view_.isChecked(IDC_PRIMARY_DISPLAY))
        currentDisplayKey_ = 0;
    if (view_.isChecked(IDC_EXTENDED_DISPLAY)) {
        const int selected = view_.selectedItem(IDC_EXTENDED_LIST);
        currentDisplayKey_ = selected < 0 ? -1 : selected + 1;
    }
    showPageChoice();
}

void CSystemSet::OnExtendedDropDown() {
    view_.setChecked(IDC_PRIMARY_DISPLAY, false);
    view_.setChecked(IDC_EXTENDED_DISPLAY, true);
}

void CSystemSet::OnExtendedSelChange() {
    readBoxes();
    const int selected = view_.selectedItem(IDC_EXTENDED_LIST);
    if (selected >= 0)
        currentDisplayKey_ = selected + 1;
    showPageChoice();
}

void CSystemSet::OnPageKind() {
    readBoxes();
    int code = -1;
    std::string text;
    for (const Page& page : kPages) {
        if (!view_.isChecked(page.radio))
            continue;
        code = page.code;
        if (code == 3)
            text = areaNamesText_;
        else if (code >= 4 && code <= 6)
            text = parameterTexts_[code - 4];
    }
    for (const Page& page : kPages)
        if (page.box)
            view_.enable(page.box, page.code == code);
    if (code != -1 && currentDisplayKey_ != -1)
        pageChoices_[currentDisplayKey_] = PageChoice{code, text};
}

void CSystemSet::OnParameterChange() {
    if (loading_)
        return;
    readBoxes();
    auto choice = pageChoices_.find(currentDisplayKey_);
    if (currentDisplayKey_ == -1 || choice == pageChoices_.end())
        return;
    const int code = choice->second.page;
    if (code == 3)
        choice->second.parameters = areaNamesText_;
    else if (code >= 4 && code <= 6)
        choice->second.parameters = parameterTexts_[code - 4];
}

std::string CSystemSet::siteFolder(const std::string& machineType) const {
    for (const MachineType& type : kMachineTypes)
        if (machineType == pick(type.item))
            return type.folder;
    // Typed text names the folder itself.
    return machineType;
}

void CSystemSet::OnSave() {
    readBoxes();
    if (serviceAddressText_.empty()) {
        view_.showMessage(pick(texts::kAppCaption), pick(say::kServiceAddressEmpty));
        return;
    }
    if (siteAddressText_.empty()) {
        view_.showMessage(pick(texts::kAppCaption), pick(say::kSiteAddressEmpty));
        return;
    }
    const std::string machineType = view_.text(IDC_MACHINE_TYPE);
    if (machineType.empty()) {
        view_.showMessage(pick(texts::kAppCaption), pick(say::kNoMachineType));
        return;
    }
    const std::string folder = siteFolder(machineType);
    if (pageChoices_.empty()) {
        view_.showMessage(pick(texts::kAppCaption), pick(say::kNoDisplayConfigured));
        return;
    }

    // The addresses are put together piece by piece, never through a
    // format, so that a "%" typed anywhere reaches the file as it is; the
    // one "%s" is where the page browser's start puts the token.
    std::vector<ConfigDisplayEntry> entries;
    for (const auto& [key, choice] : pageChoices_) {
        const Page* page = pageOf(choice.page);
        std::string url =
            siteAddressText_ + "/" + folder + "/" + page->name + ".html?token=%s&flag=multiscreen";
        if (page->box)
            url += page->suffix + choice.parameters;
        if (url.size() > kMaxUrlTemplate) {
            view_.showMessage(pick(texts::kAppCaption), pick(say::kPageAddressTooLong));
            return;
        }
        entries.push_back({key == 0, std::move(url)});
    }

    if (!services_.saveConfig(services_.configPath, config_, accountText_, serviceAddressText_,
                              siteAddressText_, entries)) {
        view_.showMessage(pick(texts::kAppCaption),
                          withPath(pick(say::kSaveFailed), services_.configPath));
        return;
    }
    view_.showMessage(pick(texts::kAppCaption), pick(say::kSaved));
    readBoxes();
    view_.endDialog(true);
}
