// The program's resources against the controllers: every dialog template,
// the tray menu, the icon, the login background and the manifest, read back
// from the executable as Windows reads them. The settings dialog is held
// against its controller's template table, the login dialog against its
// controller's geometry; texts the controllers keep in code that needs the
// whole platform are written out here.
#include "TemplateReader.h"

// Before <windows.h> (IDOK, IDCANCEL).
#include "app/PanoviewDlg.h"
#include "cloud/LoginDlg.h"
#include "settings/SystemSet.h"

#include "res/windows/resource.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <windows.h>

namespace {

DialogTemplateEx dialog(int id) {
    const std::optional<DialogTemplateEx> read = readDialogTemplate(resourceBytes(id, RT_DIALOG));
    EXPECT_TRUE(read) << "dialog " << id;
    return read.value_or(DialogTemplateEx{});
}

uint32_t buttonType(const TemplateControl& control) {
    return control.style & BS_TYPEMASK;
}

void expectPlace(const TemplateControl& control, const DialogItem& place) {
    EXPECT_EQ(control.x, place.x) << control.id << " " << control.text;
    EXPECT_EQ(control.y, place.y) << control.id << " " << control.text;
    EXPECT_EQ(control.cx, place.cx) << control.id << " " << control.text;
    EXPECT_EQ(control.cy, place.cy) << control.id << " " << control.text;
}

} // namespace

TEST(SettingsTemplate, IsTheControllersTemplateControlByControl) {
    using namespace systemset;
    const DialogTemplateEx settings = dialog(IDD_SETTINGS);
    EXPECT_EQ(settings.caption, caption());
    EXPECT_EQ(settings.cx, kWidth);
    EXPECT_EQ(settings.cy, kHeight);
    EXPECT_EQ(settings.typeface, "MS Shell Dlg");
    EXPECT_EQ(settings.pointSize, 8);
    EXPECT_EQ(settings.style & (DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP),
              uint32_t(DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP));

    // Template order is the order of the controller's table, which is the
    // order Tab follows.
    const std::vector<TemplateItem>& items = templateItems();
    ASSERT_EQ(settings.controls.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const TemplateItem& want = items[i];
        const TemplateControl& got = settings.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id ? want.id : IDC_STATIC);
        expectPlace(got, {want.x, want.y, want.cx, want.cy});
        EXPECT_EQ((got.style & WS_DISABLED) != 0, want.disabled);
        EXPECT_TRUE(got.style & WS_VISIBLE);
        switch (want.kind) {
        case ControlKind::Edit:
            EXPECT_EQ(got.windowClass, "edit");
            EXPECT_TRUE(got.style & WS_TABSTOP);
            break;
        case ControlKind::ComboBox:
            EXPECT_EQ(got.windowClass, "combobox");
            EXPECT_EQ(got.style & 3u, uint32_t(CBS_DROPDOWN));
            EXPECT_TRUE(got.style & CBS_SORT);
            EXPECT_TRUE(got.style & WS_VSCROLL);
            EXPECT_TRUE(got.style & WS_TABSTOP);
            break;
        case ControlKind::Radio:
            EXPECT_EQ(got.windowClass, "button");
            EXPECT_EQ(buttonType(got), uint32_t(BS_AUTORADIOBUTTON));
            EXPECT_EQ((got.style & WS_GROUP) != 0, want.startsGroup);
            // Tab reaches a group once, at its first radio.
            EXPECT_EQ((got.style & WS_TABSTOP) != 0, want.startsGroup);
            EXPECT_EQ(got.text, want.text);
            break;
        case ControlKind::DefaultButton:
        case ControlKind::Button:
            EXPECT_EQ(got.windowClass, "button");
            EXPECT_EQ(buttonType(got),
                      uint32_t(want.kind == ControlKind::DefaultButton ? BS_DEFPUSHBUTTON
                                                                       : BS_PUSHBUTTON));
            EXPECT_EQ(got.text, want.text);
            break;
        case ControlKind::Label:
        case ControlKind::Note:
            EXPECT_EQ(got.windowClass, "static");
            EXPECT_EQ(got.style & SS_TYPEMASK, uint32_t(SS_LEFT));
            EXPECT_EQ(got.text, want.text);
            break;
        case ControlKind::Separator:
            EXPECT_EQ(got.windowClass, "static");
            // A line of underscores, cut at the control's right edge.
            EXPECT_EQ(got.style & SS_TYPEMASK, uint32_t(SS_LEFTNOWORDWRAP));
            EXPECT_FALSE(got.text.empty());
            EXPECT_EQ(got.text.find_first_not_of('_'), std::string::npos);
            break;
        }
    }
    // The control after the last radio of a group starts a group of its
    // own, so that the arrow keys stay within the radios.
    for (size_t i = 0; i + 1 < items.size(); ++i) {
        if (items[i].kind == ControlKind::Radio && items[i + 1].kind != ControlKind::Radio) {
            EXPECT_TRUE(settings.controls[i + 1].style & WS_GROUP) << items[i + 1].id;
        }
    }
}

TEST(LoginTemplate, IsTheControllersTemplate) {
    using namespace login_template;
    const DialogTemplateEx login = dialog(IDD_LOGIN);
    const LoginTexts texts = CLoginDlg::texts();
    EXPECT_EQ(login.caption, texts.title);
    EXPECT_EQ(login.cx, kClient.cx);
    EXPECT_EQ(login.cy, kClient.cy);
    EXPECT_EQ(login.typeface, "MS Shell Dlg");
    EXPECT_EQ(login.pointSize, 8);
    EXPECT_EQ(login.style & (DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP | WS_VISIBLE),
              uint32_t(DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP))
        << "made hidden: the tray command shows it";

    struct Want {
        int id;
        const char* windowClass;
        std::string text;
        DialogItem place;
        uint32_t type;
        bool visible;
    };
    const Want wants[] = {
        {IDOK, "button", texts.button, kLogin, BS_DEFPUSHBUTTON, true},
        {IDCANCEL, "button", texts.cancel, kCancel, BS_PUSHBUTTON, false},
        {IDC_STATIC, "static", texts.accountLabel, kAccountLabel, SS_LEFT, true},
        {IDC_STATIC, "static", texts.passwordLabel, kPasswordLabel, SS_LEFT, true},
        {IDC_LOGIN_ACCOUNT, "edit", "", kAccount, 0, true},
        {IDC_LOGIN_PASSWORD, "edit", "", kPassword, 0, true},
    };
    ASSERT_EQ(login.controls.size(), std::size(wants));
    for (size_t i = 0; i < std::size(wants); ++i) {
        const Want& want = wants[i];
        const TemplateControl& got = login.controls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.windowClass, want.windowClass);
        EXPECT_EQ(got.text, want.text);
        expectPlace(got, want.place);
        EXPECT_EQ((got.style & WS_VISIBLE) != 0, want.visible);
        if (got.windowClass == "button") {
            EXPECT_EQ(buttonType(got), want.type);
        }
        if (got.windowClass == "static") {
            EXPECT_EQ(got.style & SS_TYPEMASK, want.type);
        }
        if (got.windowClass == "edit") {
            EXPECT_TRUE(got.style & WS_BORDER);
            EXPECT_TRUE(got.style & ES_AUTOHSCROLL);
            EXPECT_EQ((got.style & ES_PASSWORD) != 0, want.id == IDC_LOGIN_PASSWORD);
        }
    }
}

TEST(MainWindowTemplate, IsTheHiddenWindowsTemplate) {
    const DialogTemplateEx main = dialog(IDD_PANOVIEW);
    EXPECT_EQ(main.caption, "Panoview");
    EXPECT_EQ(main.cx, 171);
    EXPECT_EQ(main.cy, 81);
    EXPECT_EQ(main.typeface, "宋体");
    EXPECT_EQ(main.pointSize, 9);
    const uint32_t style =
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(main.style & style, style);
    EXPECT_TRUE(main.exStyle & WS_EX_APPWINDOW);
    ASSERT_EQ(main.controls.size(), 2u);
    EXPECT_EQ(main.controls[0].id, IDOK);
    EXPECT_EQ(main.controls[0].text, "确定");
    EXPECT_EQ(main.controls[1].id, IDCANCEL);
    EXPECT_EQ(main.controls[1].text, "取消");
}

TEST(TrayMenu, IsTheControllersMenuInOnePopup) {
    const auto menu = readMenuTemplate(resourceBytes(IDR_TRAY_MENU, RT_MENU));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 1u);
    EXPECT_TRUE((*menu)[0].popup);
    EXPECT_EQ((*menu)[0].text, "托盘菜单");
    const std::vector<TemplateMenuItem>& items = (*menu)[0].items;
    const std::vector<TrayMenuItem>& want = trayMenu();
    ASSERT_EQ(items.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_FALSE(items[i].popup);
        EXPECT_EQ(uint32_t(items[i].id), want[i].id) << i;
        EXPECT_EQ(items[i].text, want[i].text) << i;
    }
}

TEST(Pictures, IconHasTheSystemSizesAndTheBackgroundIs300By485In24Bits) {
    // The icon group lists its images: 6 bytes of header, 14 per image.
    const std::string group = resourceBytes(IDR_MAINFRAME, RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    const size_t count = uint8_t(group[4]) | uint8_t(group[5]) << 8;
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::vector<int> sizes;
    for (size_t i = 0; i < count; ++i)
        sizes.push_back(uint8_t(group[6 + 14 * i]));
    for (int size : {16, 32, 48})
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), size), sizes.end()) << size;

    const std::string bitmap = resourceBytes(IDB_LOGIN_BACKGROUND, RT_BITMAP);
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header{};
    std::memcpy(&header, bitmap.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 300);
    EXPECT_EQ(std::abs(header.biHeight), 485);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
}

TEST(Manifest, AsksForPerMonitorDpiAndCommonControls6) {
    const std::string manifest = resourceBytes(1, RT_MANIFEST);
    EXPECT_NE(manifest.find("<dpiAwareness"), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
}
