// CSystemSet: the settings dialog's rules. It edits the service address, the
// machine type, the default account, the site address and the page each
// display shows, builds one page address per configured display and saves
// Panoview.config. It never changes the SystemConfig it was opened with: the
// new settings take effect at the next start.
//
// The window is reached only through ISystemSetView, the desktop only through
// SystemSetServices, so that every rule runs without a window.
#pragma once

#include "common/Geometry.h"
#include "platform/DisplayDevices.h"
#include "settings/ConfigFile.h"
#include "settings/SystemConfig.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace systemset {

// The controls of the dialog (template 132), by id.
enum Id : int {
    IDOK = 1,
    IDCANCEL = 2,
    IDC_SERVICE_ADDRESS = 1001,
    IDC_PRIMARY_DISPLAY = 1002,
    IDC_EXTENDED_DISPLAY = 1003,
    IDC_SITE_ADDRESS = 1004,
    IDC_EXTENDED_LIST = 1005,
    IDC_PRIMARY_NAME = 1006,
    IDC_PAGE_MACHINE_STATUS = 1007,
    IDC_AREA_NAMES = 1008,
    IDC_PAGE_KNITTING_RECORD = 1009,
    IDC_PAGE_ORDER_PROGRESS = 1010,
    IDC_PAGE_WORKSHOP_EFFICIENCY = 1011,
    IDC_MACHINE_TYPE = 1012,
    IDC_ACCOUNT = 1013,
    IDC_PAGE_FACTORY_OVERVIEW = 1014,
    IDC_KNITTING_RECORD_PARAMETERS = 1015,
    IDC_ORDER_PROGRESS_PARAMETERS = 1016,
    IDC_WORKSHOP_EFFICIENCY_PARAMETERS = 1017,
};

} // namespace systemset

// What a control tells the dialog.
enum class Notice {
    Clicked,   // a button or radio was clicked (or pressed by its key)
    DropDown,  // a combo box's list is about to open
    SelChange, // the operator chose another item of a combo box's list
    Change,    // an edit box's text changed, typed or set by the dialog
};

// What the rules ask of the window.
class ISystemSetView {
public:
    virtual ~ISystemSetView() = default;
    virtual bool isChecked(int id) const = 0;
    // Checking a radio clears the others of its group; clearing the last
    // checked radio of a group leaves the group with none checked.
    virtual void setChecked(int id, bool checked) = 0;
    virtual void enable(int id, bool enabled) = 0;
    virtual std::string text(int id) const = 0;
    virtual void setText(int id, const std::string& text) = 0;
    // Typing cannot make the box's text longer than this many characters; a
    // longer text set by the dialog stays whole.
    virtual void limitText(int id, int characters) = 0;
    // Adds an item to a combo box, which keeps its items sorted by text and
    // its selection as it was.
    virtual void addItem(int id, const std::string& item) = 0;
    // The position of the selected item as the box lists it; -1 for none.
    virtual int selectedItem(int id) const = 0;
    // A help text that appears delayMs after the pointer comes to rest on
    // the box.
    virtual void setToolTip(int id, const std::string& text, int delayMs) = 0;
    // Centres the window on the area; an empty area stands for the primary
    // screen.
    virtual void centreOn(const Rect& area) = 0;
    // A message box with an OK button, over the dialog; returns when it is
    // answered.
    virtual void showMessage(const std::string& caption, const std::string& text) = 0;
    // Ends the modal run, accepted or not.
    virtual void endDialog(bool accepted) = 0;
};

// What the rules ask of the desktop.
struct SystemSetServices {
    // The display devices: with no device name the system's device at index,
    // with a device's name the monitor attached to it. False when there is
    // none.
    std::function<bool(const char* deviceName, uint32_t index, platform::DisplayDevice& device)>
        displayDevice;
    // Writes Panoview.config at the path (saveConfigFile): false, with the
    // old file whole, when it cannot be written.
    std::function<bool(const std::string& path, const SystemConfig& config,
                       const std::string& userId, const std::string& serviceAddress,
                       const std::string& siteAddress,
                       const std::vector<ConfigDisplayEntry>& entries)>
        saveConfig;
    // Where the file is saved.
    std::string configPath;
};

// The display devices as the record discovered them (platform::DisplayDevices
// over its primary and extended monitors), in the form
// SystemSetServices::displayDevice takes.
std::function<bool(const char* deviceName, uint32_t index, platform::DisplayDevice& device)>
displayDevicesOf(const SystemConfig& config);

// The page chosen for one display during this opening of the dialog.
struct PageChoice {
    int page = -1;          // 3 to 7
    std::string parameters; // the page's parameter text, kept whole; empty for page 7
};

class CSystemSet {
public:
    CSystemSet(ISystemSetView& view, const SystemConfig& config, SystemSetServices services);
    CSystemSet(const CSystemSet&) = delete;
    CSystemSet& operator=(const CSystemSet&) = delete;

    // The message map: runs the handler of a control's notice. Cancel ends
    // the dialog without saving.
    void OnCommand(int id, Notice notice);

    void OnInitDialog();
    void OnDisplayKind();
    void OnExtendedDropDown();
    void OnExtendedSelChange();
    void OnPageKind();
    void OnParameterChange();
    void OnSave();

    int currentDisplayKey() const { return currentDisplayKey_; }
    const std::map<int, PageChoice>& pageChoices() const { return pageChoices_; }

    // The longest text each bound box takes by typing, in characters.
    static constexpr int kAddressLimit = 1000;
    static constexpr int kAccountLimit = 20;
    static constexpr int kParameterLimit = 200;
    // Tooltips appear this long after the pointer comes to rest.
    static constexpr int kToolTipDelayMs = 200;

private:
    // The members bound to the boxes, read from the boxes and loaded into
    // them in the order of the data exchange.
    void readBoxes();
    void loadBoxes();
    void showPageChoice();
    // The folder of the site for the machine-type box's text.
    std::string siteFolder(const std::string& machineType) const;

    ISystemSetView& view_;
    const SystemConfig& config_;
    SystemSetServices services_;

    std::map<int, PageChoice> pageChoices_;
    std::string serviceAddressText_;
    std::string areaNamesText_;
    std::string accountText_;
    std::string siteAddressText_;
    int currentDisplayKey_ = -1;
    std::string parameterTexts_[3];
    // True while the members are loaded into the boxes: the parameter boxes'
    // change notices of that load are the dialog's own and change no choice.
    bool loading_ = false;
};

// The template of the dialog: its caption, size and every control, in the
// order that keyboard navigation follows.
namespace systemset {

enum class ControlKind {
    Edit,
    ComboBox, // with an edit field, sorted
    Radio,    // auto radio button
    Label,
    Separator,
    Note,          // static text that wraps
    DefaultButton, // Enter presses it
    Button,
};

struct TemplateItem {
    int id; // 0 for the statics
    ControlKind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
    bool startsGroup = false;
    bool disabled = false;
};

inline constexpr int kWidth = 262; // dialog units, the client area
inline constexpr int kHeight = 265;

// The template's controls; the statics follow the controls with ids.
const std::vector<TemplateItem>& templateItems();

// The dialog's caption.
std::string caption();

} // namespace systemset
