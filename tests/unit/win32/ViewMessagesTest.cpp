// How the Win32 views read the system's messages: tray mouse messages,
// control notifications, radio groups and the dialog procedure's results.
#include "settings/win32/SystemSetControls.h"

#include "platform/win32/Dialog.h"

#include "app/win32/TrayWindow.h"

#include <gtest/gtest.h>

using systemset::ControlKind;

TEST(TrayMessages, DoubleClickAndRightButtonUpAreTheOnlyClicks) {
    const struct {
        UINT message;
        TrayClick click;
    } cases[] = {
        {WM_LBUTTONDBLCLK, TrayClick::Double}, {WM_RBUTTONUP, TrayClick::Context},
        {WM_LBUTTONDOWN, TrayClick::Other},    {WM_LBUTTONUP, TrayClick::Other},
        {WM_RBUTTONDOWN, TrayClick::Other},    {WM_RBUTTONDBLCLK, TrayClick::Other},
        {WM_MOUSEMOVE, TrayClick::Other},      {WM_CONTEXTMENU, TrayClick::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trayClickOf(c.message), c.click) << c.message;
    EXPECT_EQ(WM_TRAYNOTIFY, 1029u);
    EXPECT_EQ(kTrayRecordSize, 504u);
}

TEST(SettingsNotices, EachKindFollowsItsOwnNotifications) {
    const struct {
        ControlKind kind;
        int code;
        std::optional<Notice> notice;
    } cases[] = {
        {ControlKind::Edit, EN_CHANGE, Notice::Change},
        {ControlKind::Edit, EN_UPDATE, std::nullopt},
        {ControlKind::Edit, EN_SETFOCUS, std::nullopt},
        {ControlKind::ComboBox, CBN_DROPDOWN, Notice::DropDown},
        {ControlKind::ComboBox, CBN_SELCHANGE, Notice::SelChange},
        {ControlKind::ComboBox, CBN_EDITCHANGE, std::nullopt},
        {ControlKind::ComboBox, CBN_CLOSEUP, std::nullopt},
        {ControlKind::Radio, BN_CLICKED, Notice::Clicked},
        {ControlKind::Radio, BN_SETFOCUS, std::nullopt},
        {ControlKind::DefaultButton, BN_CLICKED, Notice::Clicked},
        {ControlKind::Button, BN_CLICKED, Notice::Clicked},
        {ControlKind::Label, 0, std::nullopt},
        {ControlKind::Note, 0, std::nullopt},
        {ControlKind::Separator, 0, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(noticeOf(c.kind, c.code), c.notice) << int(c.kind) << " code " << c.code;
}

TEST(SettingsNotices, IdsAreKnownByTheirKind) {
    using namespace systemset;
    EXPECT_EQ(controlKind(IDC_SERVICE_ADDRESS), ControlKind::Edit);
    EXPECT_EQ(controlKind(IDC_EXTENDED_LIST), ControlKind::ComboBox);
    EXPECT_EQ(controlKind(IDC_PAGE_FACTORY_OVERVIEW), ControlKind::Radio);
    EXPECT_EQ(controlKind(1), ControlKind::DefaultButton); // IDOK
    EXPECT_EQ(controlKind(2), ControlKind::Button);        // IDCANCEL
    // The statics have no id of their own; a menu or unknown id is none.
    EXPECT_EQ(controlKind(0), std::nullopt);
    EXPECT_EQ(controlKind(-1), std::nullopt);
    EXPECT_EQ(controlKind(1018), std::nullopt);
}

TEST(RadioGroups, AreTheDisplayKindsAndThePages) {
    using namespace systemset;
    const std::vector<int> displays{IDC_PRIMARY_DISPLAY, IDC_EXTENDED_DISPLAY};
    const std::vector<int> pages{IDC_PAGE_MACHINE_STATUS, IDC_PAGE_KNITTING_RECORD,
                                 IDC_PAGE_ORDER_PROGRESS, IDC_PAGE_WORKSHOP_EFFICIENCY,
                                 IDC_PAGE_FACTORY_OVERVIEW};
    for (int id : displays)
        EXPECT_EQ(radioGroupOf(id), displays) << id;
    for (int id : pages)
        EXPECT_EQ(radioGroupOf(id), pages) << id;
    for (int id : {int(IDC_SERVICE_ADDRESS), int(IDC_EXTENDED_LIST), 1, 0, 4711})
        EXPECT_TRUE(radioGroupOf(id).empty()) << id;
}

TEST(DialogResults, ColourAndFewOthersAreReturnedTheRestGoesThroughMsgResult) {
    for (UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT, WM_CTLCOLORDLG, WM_CTLCOLORBTN,
                         WM_INITDIALOG, WM_QUERYDRAGICON, WM_COMPAREITEM})
        EXPECT_TRUE(win32::resultIsReturned(message)) << message;
    for (UINT message : {UINT(WM_ERASEBKGND), UINT(WM_TIMER), UINT(WM_COMMAND), UINT(WM_CLOSE),
                         WM_TRAYNOTIFY, UINT(WM_NOTIFY)})
        EXPECT_FALSE(win32::resultIsReturned(message)) << message;
}
